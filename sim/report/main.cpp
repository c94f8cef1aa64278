// moto_bridge_sim_report: reads the JSON lines of the simulated repeater and
// network master after a run, prints what crossed the bridge each way, and
// exits 0 only when everything expected happened (1 with the reasons).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_report.h"

namespace {

// The figures of the master's call `call` from one of the report's lists.
template <typename Figures>
int print_figures_of(const std::vector<Figures>& calls, int call) {
  for (const Figures& f : calls)
    if (f.call == call) {
      simreport::print_figures(f, stdout);
      return 0;
    }
  std::printf("no network call %d\n", call);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string repeater, master;
  simreport::Expectations e;
  int figures_of = 0, air_figures_of = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--repeater")
      repeater = value();
    else if (a == "--master")
      master = value();
    else if (a == "--call-sign")
      e.call_sign = value();
    else if (a == "--repeater-id")
      e.repeater_id = std::atoll(value());
    else if (a == "--bridge-id")
      e.bridge_id = std::atoll(value());
    else if (a == "--tx")
      e.tx_hz = std::atoll(value());
    else if (a == "--rx")
      e.rx_hz = std::atoll(value());
    else if (a == "--rdac")
      e.rdac_announcements = std::atoi(value());
    else if (a == "--calls")
      e.calls_each_way = std::atoi(value());
    else if (a == "--positions")
      e.positions = std::atoi(value());
    else if (a == "--clean-grid")
      e.clean_grid = true;
    else if (a == "--both-slots")
      e.both_slots = true;
    else if (a == "--ignored-slot")
      e.ignored_slot = static_cast<unsigned>(std::atoi(value()));
    else if (a == "--grid-figures")
      figures_of = std::atoi(value());
    else if (a == "--air-figures")
      air_figures_of = std::atoi(value());
    else {
      std::puts(
          "usage: moto_bridge_sim_report --repeater FILE --master FILE [--call-sign C] [--repeater-id N]\n"
          "         [--bridge-id N] [--tx HZ] [--rx HZ] [--rdac N] [--calls N] [--positions N] [--clean-grid]\n"
          "         [--both-slots] [--ignored-slot 1|2] [--grid-figures CALL] [--air-figures CALL]\n"
          "  --clean-grid: network calls over an impaired link must keep their grid on air\n"
          "  --both-slots: the calls each way on each timeslot, and a call each way on timeslot 1\n"
          "    overlapping one on timeslot 2\n"
          "  --ignored-slot: what was played on that timeslot must not cross the bridge\n"
          "  --grid-figures: only the grid figures of the master's call CALL, as key=value words\n"
          "  --air-figures: only how the master's call CALL came out on air, matched by its frames");
      return 2;
    }
  }
  const auto r = simreport::analyse(simjson::read_file(repeater), simjson::read_file(master));
  if (air_figures_of > 0) return print_figures_of(r.on_air, air_figures_of);
  if (figures_of > 0) return print_figures_of(r.grids, figures_of);
  simreport::print(r, stdout);
  const auto why = simreport::shortcomings(r, e);
  for (const std::string& w : why) std::printf("MISSING: %s\n", w.c_str());
  std::puts(why.empty() ? "RESULT: PASS" : "RESULT: FAIL");
  return why.empty() ? 0 : 1;
}
