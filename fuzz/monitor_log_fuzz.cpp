// The monitor's log reader: any bytes as console output, fed in pieces of
// the sizes the input chooses, with the start-up's key lines put in between.
// Whatever arrives, the model stays within its bounds, its texts stay
// printable, calls never end before they start, every call and position is
// on timeslot 1 or 2 (a call on air under its own), and no text of the
// model holds any part of the key.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "log_ingest.h"

namespace {

constexpr const char* kKeyLines =
    "NetworkKey=[f00dfeedbeefcafe0123456789abcdef00112233]\n"
    "KeyBytes={f0:0d:fe:ed:be:ef:ca:fe:01:23:45:67:89:ab:cd:ef:00:11:22:33}\n";

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

void check_text(const char* text, size_t capacity) {
  const size_t length = strnlen(text, capacity);
  check(length < capacity, "text terminated");
  for (size_t i = 0; i < length; ++i) check(text[i] >= 0x20 && text[i] < 0x7f, "text printable");
  const std::string_view t(text, length);
  check(t.find("f00dfeed") == std::string_view::npos && t.find("f0:0d:fe") == std::string_view::npos,
        "no part of the key");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  monitor::SharedState state;
  monitor::LogIngest ingest(state);
  const char* text = reinterpret_cast<const char*>(data);
  size_t at = 0;
  bool key_fed = false;
  while (at < size) {
    // The first byte of each piece is its length (0: the key lines here).
    const size_t piece = static_cast<unsigned char>(text[at++]);
    if (piece == 0 && !key_fed) {
      ingest.feed(kKeyLines, std::strlen(kKeyLines));
      key_fed = true;
      continue;
    }
    const size_t n = std::min(piece, size - at);
    ingest.feed(text + at, n);
    at += n;
  }
  ingest.finish();

  const monitor::BridgeModel& m = state.model;
  check(m.last_heard.size() <= monitor::BridgeModel::kLastHeard, "last heard bounded");
  check(m.positions.size() <= monitor::BridgeModel::kPositions, "positions bounded");
  check(m.notes.size() <= monitor::BridgeModel::kNotes, "notes bounded");
  check(m.peer_count >= 0 && m.peer_count <= 2, "peer count");
  for (int slot = 1; slot <= monitor::kTimeslots; ++slot) {
    const monitor::SlotCalls& on = m.on_air[static_cast<size_t>(slot - 1)];
    for (const std::optional<monitor::CallRecord>* c : {&on.rf_call, &on.net_call})
      check(!*c || ((*c)->slot == slot && (*c)->ended_by == monitor::EndedBy::kRunning), "calls on air on their slot");
  }
  for (const monitor::CallRecord& c : m.last_heard) {
    check(monitor::is_timeslot(c.slot), "calls on timeslot 1 or 2");
    check(c.end >= c.start, "call ends after its start");
    check(c.ended_by != monitor::EndedBy::kRunning, "ended calls say how");
    check(c.ber_max >= 0, "BER not negative");
  }
  for (const monitor::PositionRecord& p : m.positions) {
    check(monitor::is_timeslot(p.slot), "positions on timeslot 1 or 2");
    check_text(p.mode, sizeof p.mode);
    check_text(p.lat_text, sizeof p.lat_text);
    check_text(p.lon_text, sizeof p.lon_text);
    check_text(p.speed_text, sizeof p.speed_text);
    if (p.latitude) check(*p.latitude >= -90 && *p.latitude <= 90, "latitude range");
    if (p.longitude) check(*p.longitude >= -180 && *p.longitude <= 180, "longitude range");
  }
  for (const monitor::PeerEntry& p : m.peers) check_text(p.address, sizeof p.address);
  check_text(m.daemon.call_sign, sizeof m.daemon.call_sign);
  check_text(m.daemon.version, sizeof m.daemon.version);
  check_text(m.daemon.master_ip, sizeof m.daemon.master_ip);
  check_text(m.daemon.repeater_ip, sizeof m.daemon.repeater_ip);
  return 0;
}
