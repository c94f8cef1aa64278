// The monitor's reader path: raw console output through the line splitter,
// the parser and the model, as the reader thread runs it (one lock per
// read). The target is 5,000 log lines a second on the board; the figure
// to read is items_per_second (lines). Also the cost of the JSON the
// dashboard asks for after each change, with a full last-heard list.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "json_views.h"
#include "log_ingest.h"

namespace {

// The varied captured run (calls with bit errors, jitter-buffer lines,
// re-registration) without its start-up, repeated: every line kind the
// running daemon prints, in the proportions of a busy repeater. Or another
// log of the test data, e.g. calls on both timeslots.
std::string running_log(const char* name = "rich-daemon.log") {
  std::ifstream in(std::string(MONITOR_TEST_DATA) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string log = s.str();
  const std::string body = log.substr(log.find("Master peer list reply"));
  std::string out;
  while (out.size() < (1u << 20)) out += body;
  return out;
}

size_t count_lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

void reader_lines(benchmark::State& state, const std::string& log) {
  const size_t lines = count_lines(log);
  monitor::SharedState shared;
  monitor::LogIngest ingest(shared);
  for (auto _ : state) {
    for (size_t at = 0; at < log.size(); at += 16384)
      ingest.feed(log.data() + at, std::min<size_t>(16384, log.size() - at));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines));
  state.counters["lines_per_pass"] = static_cast<double>(lines);
}
void BM_ReaderLines(benchmark::State& state) { reader_lines(state, running_log()); }
BENCHMARK(BM_ReaderLines)->Unit(benchmark::kMillisecond);

// Calls each way on both timeslots at once: half the lines end in " slot:1".
void BM_ReaderLinesBothSlots(benchmark::State& state) { reader_lines(state, running_log("handwritten-timeslots.log")); }
BENCHMARK(BM_ReaderLinesBothSlots)->Unit(benchmark::kMillisecond);

void BM_DashboardJson(benchmark::State& state) {
  const std::string log = running_log();
  monitor::SharedState shared;
  monitor::LogIngest ingest(shared);
  ingest.feed(log.data(), log.size());
  for (auto _ : state) {
    const nlohmann::json j = {{"status", monitor::status_json(shared.model, shared.callsigns, shared.now())},
                              {"calls", monitor::calls_json(shared.model, shared.callsigns, shared.now())},
                              {"positions", monitor::positions_json(shared.model, shared.callsigns)}};
    benchmark::DoNotOptimize(monitor::dump(j));
  }
  state.counters["calls_listed"] = static_cast<double>(shared.model.last_heard.size());
}
BENCHMARK(BM_DashboardJson)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
