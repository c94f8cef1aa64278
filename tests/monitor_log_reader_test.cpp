// The monitor's log reader: cleaning the raw console output into lines, and
// recognising each line kind the daemon prints (and refusing near misses).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_splitter.h"
#include "log_parser.h"
#include "log_time_text.h"
#include "position_degrees.h"

namespace {

using monitor::LineKind;

std::vector<std::string> split(const std::vector<std::string>& chunks) {
  monitor::LineSplitter s;
  std::vector<std::string> out;
  auto sink = [&out](std::string_view l) { out.emplace_back(l); };
  for (const auto& c : chunks) s.feed(c.data(), c.size(), sink);
  s.finish(sink);
  return out;
}

TEST(MonitorLineSplitter, EscapesLineEndsProgressBarsAndNoise) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  } cases[] = {
      {{"Moto RX- ID:1\r\n"}, {"Moto RX- ID:1"}},
      // Banners between colour codes run on into the next line.
      {{"\x1b[0;33mStart Moto           Modul  V0.01\n\x1b[0;33m\x1b[0m\x1b[0mlen master peer 39\n"},
       {"Start Moto           Modul  V0.01", "len master peer 39"}},
      // The progress bar redraws with a bare carriage return.
      {{"[=>  ] 1 %\r[==> ] 2 %\r\n"}, {"[=>  ] 1 %", "[==> ] 2 %"}},
      // An escape sequence and a line split across reads.
      {{"\x1b[1", ";32m[ OK ]\x1b", "[0m Init", "ializing...\n"}, {"[ OK ] Initializing..."}},
      // Trailing blanks go, tabs become blanks, noise bytes become marks.
      {{"END USER_ID=5 \n", "a\tb\x01\xff\n"}, {"END USER_ID=5", "a b??"}},
      // A last line without its line end still counts.
      {{"\n\n\nPTT OFF 3"}, {"PTT OFF 3"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.chunks), c.lines) << c.chunks[0];
}

TEST(MonitorLineSplitter, OverlongLinesAreCutAndCounted) {
  monitor::LineSplitter s;
  std::vector<std::string> out;
  const std::string longest(monitor::LineSplitter::kMaxLine, 'x');
  const std::string text = longest + "\n" + longest + "y\nshort\n";
  s.feed(text.data(), text.size(), [&out](std::string_view l) { out.emplace_back(l); });
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], longest);
  EXPECT_EQ(out[1], longest);
  EXPECT_EQ(out[2], "short");
  EXPECT_EQ(s.cut_lines(), 1u);
}

TEST(MonitorLogTimeText, ParsesAsctimeInLocalTimeAndRefusesOtherShapes) {
  setenv("TZ", "UTC", 1);
  tzset();
  monitor::LogTimeText t;
  int64_t s = 0;
  ASSERT_TRUE(t.parse("Wed Dec  9 15:41:58 2026", &s));
  EXPECT_EQ(s, 1796830918);
  ASSERT_TRUE(t.parse("Thu Dec 10 00:00:00 2026 PTT ON 1", &s));
  EXPECT_EQ(s, 1796860800);
  ASSERT_TRUE(t.parse("Wed Dec  9 15:42:00 2026", &s));  // same hour, from the cache
  EXPECT_EQ(s, 1796830920);
  for (const char* bad : {"Wed Dec  9 15:41:58 202", "Wxd Dec  9 15:41:58 2026", "Wed Dez  9 15:41:58 2026",
                          "Wed Dec  9 25:41:58 2026", "Wed Dec 09 15:41:58", "Wed Dec  0 15:41:58 2026"})
    EXPECT_FALSE(t.parse(bad, &s)) << bad;
}

struct LineCase {
  const char* line;
  LineKind kind;
  std::vector<int64_t> numbers;  // the first numbers of the event
};

TEST(MonitorLogParser, EveryLineKindAndItsNearMisses) {
  const std::string ts = "Wed Dec  9 15:41:58 2026 ";
  const LineCase cases[] = {
      {"Date: Wed Dec  9 15:41:58 2026", LineKind::kDaemonStart, {}},
      {"Date: Wed Dec  9 15:41:58", LineKind::kUnrecognised, {}},
      {"Initialize Golay-23-12 table", LineKind::kGolayTable, {}},
      {"NetworkKey=[c0ffee]", LineKind::kSecret, {}},
      {"KeyBytes={c0:ff:ee}", LineKind::kSecret, {}},
      {"NetworkKey [zz] holds a character that is not a hexadecimal digit!", LineKind::kSecret, {}},
      {"garbage before NetworkKey=[c0ffee", LineKind::kSecret, {}},
      {"RptrID=[262999]", LineKind::kConfigValue, {262999}},
      {"RptrID=[26x]", LineKind::kUnrecognised, {}},
      {"MasterIP=[192.0.2.2]", LineKind::kConfigValue, {}},
      {"MasterIP=[192.0.2]", LineKind::kUnrecognised, {}},
      {"JitterBuffer=[120]", LineKind::kConfigValue, {120}},
      {"Configuration file invalid... (8)", LineKind::kConfigInvalid, {8}},
      {"Can not read Configfile vexaqv.cfg", LineKind::kConfigUnreadable, {}},
      {"Master peer list reply", LineKind::kPeerListReply, {}},
      {"SRC-ID:74565", LineKind::kPeerListSource, {74565}},
      {"PEER2-ID:3145729", LineKind::kPeerEntryId, {2, 3145729}},
      {"PEER1-IP = 192.0.2.1", LineKind::kPeerEntryAddress, {1}},
      {"PEER1-Port = 50000", LineKind::kPeerEntryPort, {1, 50000}},
      {"TOO MANY PEERS IN NETWORK! (3)", LineKind::kTooManyPeers, {3}},
      {"Login PEER-ID:262777 from IP:192.0.2.2", LineKind::kPeerRegistration, {262777}},
      {"Send 99 PEER-ID:262777 IP:192.0.2.2", LineKind::kPeerKeepAlive, {262777}},
      {"Master keep alive request from master", LineKind::kMasterKeepAlive, {}},
      {"Local_Repeater_rdac 4", LineKind::kRdacStep, {4}},
      {"Local_Repeater_rdac", LineKind::kRdacReceived, {}},
      {"Local_Repeater_rdac x", LineKind::kUnrecognised, {}},
      {"BER : 7.092199%", LineKind::kBitErrorRate, {}},
      {"BER : -1.0%", LineKind::kUnrecognised, {}},
      {"AMBE 2, Err_A = 4 Err_B = 3", LineKind::kUncorrectableFrame, {2, 4, 3}},
      {"Ferr: 38 40", LineKind::kSequenceGap, {38, 40}},
      {"F_err: 0 3", LineKind::kSequenceGap, {0, 3}},
      {"O_err: 5 4", LineKind::kOutOfOrder, {5, 4}},
      {"Doubling DMR-IDs: 1 2 in 9/-1", LineKind::kDoubledId, {1, 2, 9}},
      {"Bad Embedded Multi Block LC", LineKind::kEmbeddedLcError, {}},
      {" -> Hamming1 0 failed", LineKind::kEmbeddedLcError, {}},
      {"[2620001]Decoded GPS Auto Time+Dist [17]: LAT(05232.103) LONG(001325.56) SPEED(041) RPT:74565",
       LineKind::kPosition,
       {2620001, 17, 74565}},
      {"[2620001]Decoded GPS Manual [19]: LAT(05232.103) LONG(001325.5) SPEED(041) RPT:74565",
       LineKind::kUnrecognised,
       {}},
      {"[2620001]Decoded GPS Sometimes [19]: LAT(05232.103) LONG(001325.56) SPEED(041) RPT:1",
       LineKind::kUnrecognised,
       {}},
      {"[=====>    ] 50 %", LineKind::kKnownOther, {}},
      {"PTT ON 3", LineKind::kUnrecognised, {}},  // network lines carry the time
  };
  for (const LineCase& c : cases) {
    monitor::LogParser p;
    const monitor::LogEvent e = p.parse(c.line);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    for (size_t i = 0; i < c.numbers.size(); ++i) EXPECT_EQ(e.n[i], c.numbers[i]) << c.line << " #" << i;
  }
  const LineCase timed[] = {
      {"Moto RX+ slot:2 destination_id:9 source_id:2620001 rptr_id:74565",
       LineKind::kRfCallStart,
       {2620001, 9, 74565, 2}},
      {"Moto RX+ slot:2 destination_id:9 source_id:2620001", LineKind::kUnrecognised, {}},
      {"Moto RX- ID:2620001", LineKind::kRfCallEnd, {2620001}},
      {"RX SLOT=2 DST_ID=9 SRC_ID=2620002 TYPE=Voice", LineKind::kNetReceive, {2620002, 9, 2}},
      {"VOICE RX SLOT 2 END USER_ID=2620002", LineKind::kNetReceiveEnd, {2620002, 0, 2}},
      {"PTT ON 1", LineKind::kNetCallStart, {1}},
      {"PTT ON without START 4", LineKind::kNetCallStart, {4}},
      {"PTT ON without", LineKind::kUnrecognised, {}},
      {"PTT OFF 1", LineKind::kNetCallEnd, {1}},
      {"TX TIMEOUT 3", LineKind::kNetCallTimeout, {3}},
      {"add delay: 58981us to pacnum: 31", LineKind::kPacing, {58981, 31}},
      {"Sende Anmeldung an DMR Master  IP:192.0.2.2", LineKind::kLogin, {}},
      {"Sende Anmeldung an DMR Master IP:192.0.2.2", LineKind::kUnrecognised, {}},
      {"Repeater not registered, send registration to IP:192.0.2.2 Port:50000", LineKind::kNotRegistered, {50000}},
      {"Jitter buffer 1 start: lead 120 ms (auto)", LineKind::kJitterStart, {1, 120}},
      {"Jitter buffer 1 start: lead 120 ms (sometimes)", LineKind::kUnrecognised, {}},
      {"Jitter buffer 3 end: lead 120 ms, bursts 6, late 1, lost 2, filled 46",
       LineKind::kJitterEnd,
       {3, 120, 6, 1, 2, 46}},
      {"Jitter buffer 3 end: lead 120 ms, bursts 6, late 1, lost 2", LineKind::kUnrecognised, {}},
      {"Jitter buffer 4 end: lead 120 ms, bursts 390, late 0, lost 1, filled 3, slipped 2, skipped 6, re-anchored 1",
       LineKind::kJitterEnd,
       {4, 120, 390, 0, 1, 3, 2, 6, 1}},
      {"Jitter buffer 4 end: lead 120 ms, bursts 390, late 0, lost 1, filled 3, slipped 2",
       LineKind::kUnrecognised,
       {}},
      {"Dropped datagram from 198.51.100.7:4000 on port 62006: not the network master",
       LineKind::kDropped,
       {4000, 62006}},
      {"Dropped datagram from 192.0.2.2:50000 on port 50000: bad signature", LineKind::kDropped, {50000, 50000}},
      {"Dropped datagram from 192.0.2:50000 on port 50000: bad signature", LineKind::kUnrecognised, {}},
      {"Dropped on port 62006 in the last minute: 17 datagrams from 3 senders", LineKind::kDropSummary, {62006, 17, 3}},
      {"Dropped datagram from 192.0.2.4:40000 on port 50000: too long", LineKind::kDropped, {40000, 50000}},
      {"Dropped datagram from 192.0.2.4:40000 on port 50000: reflected", LineKind::kDropped, {40000, 50000}},
      {"Dropped datagram from 192.0.2.2:50003 on port 50000: keep-alive reply not asked for",
       LineKind::kDropped,
       {50003, 50000}},
      {"Dropped on port 62005 in the last minute: 5860 datagrams from 3 senders, most from 192.0.2.4 (5790)",
       LineKind::kDropSummary,
       {62005, 5860, 3, 5790}},
      {"Dropped on port 62005 in the last minute: 5860 datagrams from 3 senders, most from 192.0.2 (5790)",
       LineKind::kUnrecognised,
       {}},
      {"Dropped on port 62005 in the last minute: 5860 datagrams from 3 senders, most from 192.0.2.4",
       LineKind::kUnrecognised,
       {}},
  };
  for (const LineCase& c : timed) {
    monitor::LogParser p;
    const monitor::LogEvent e = p.parse(ts + c.line);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    EXPECT_TRUE(e.has_time) << c.line;
    for (size_t i = 0; i < c.numbers.size(); ++i) EXPECT_EQ(e.n[i], c.numbers[i]) << c.line << " #" << i;
  }
}

// Timeslot 1's lines name the slot, in the text or by " slot:1" at the end;
// the same lines without it are timeslot 2's, and no other line takes it.
TEST(MonitorLogParser, TimeslotOfEachCallLine) {
  const std::string ts = "Thu Dec 10 10:00:12 2026 ";
  const struct {
    std::string line;
    LineKind kind;
    int slot;
    std::vector<int64_t> numbers;
  } cases[] = {
      {ts + "Moto RX+ slot:1 destination_id:8 source_id:2620102 rptr_id:74565",
       LineKind::kRfCallStart,
       1,
       {2620102, 8}},
      {ts + "Moto RX+ slot:3 destination_id:8 source_id:2620102 rptr_id:74565", LineKind::kUnrecognised, 2, {}},
      {ts + "Moto RX+ slot:1 destination_id:8 source_id:2620102 rptr_id:74565 slot:1", LineKind::kUnrecognised, 2, {}},
      {ts + "Moto RX- ID:2620102 slot:1", LineKind::kRfCallEnd, 1, {2620102}},
      {ts + "Moto RX- ID:2620102", LineKind::kRfCallEnd, 2, {2620102}},
      {ts + "Moto RX- ID:2620102 slot:2", LineKind::kUnrecognised, 2, {}},
      {ts + "Moto RX- ID:2620102slot:1", LineKind::kUnrecognised, 2, {}},
      {ts + "RX SLOT=1 DST_ID=91 SRC_ID=2620201 TYPE=Voice", LineKind::kNetReceive, 1, {2620201, 91, 1}},
      {ts + "RX SLOT=3 DST_ID=91 SRC_ID=2620201 TYPE=Voice", LineKind::kNetReceive, 3, {2620201, 91, 3}},
      {ts + "RX SLOT=16 DST_ID=91 SRC_ID=2620201 TYPE=Voice", LineKind::kUnrecognised, 2, {}},
      {ts + "VOICE RX SLOT 1 END USER_ID=2620201", LineKind::kNetReceiveEnd, 1, {2620201}},
      {ts + "VOICE RX SLOT 1 END USER_ID=2620201 slot:1", LineKind::kUnrecognised, 2, {}},
      {ts + "PTT ON 1 slot:1", LineKind::kNetCallStart, 1, {1}},
      {ts + "PTT ON without START 2 slot:1", LineKind::kNetCallStart, 1, {2}},
      {ts + "PTT OFF 2 slot:1", LineKind::kNetCallEnd, 1, {2}},
      {ts + "TX TIMEOUT 4 slot:1", LineKind::kNetCallTimeout, 1, {4}},
      {ts + "add delay: 58981us to pacnum: 8 slot:1", LineKind::kPacing, 1, {58981, 8}},
      {ts + "Jitter buffer 1 start: lead 60 ms (auto) slot:1", LineKind::kJitterStart, 1, {1, 60}},
      {ts + "Jitter buffer 1 end: lead 60 ms, bursts 40, late 1, lost 0, filled 0, slipped 0, skipped 0, "
            "re-anchored 3 slot:1",
       LineKind::kJitterEnd,
       1,
       {1, 60, 40, 1, 0, 0, 0, 0, 3}},
      {ts + "Sende Anmeldung an DMR Master  IP:192.0.2.2 slot:1", LineKind::kUnrecognised, 2, {}},
      {"BER : 2.836879% slot:1", LineKind::kBitErrorRate, 1, {}},
      {"AMBE 2, Err_A = 4 Err_B = 1 slot:1", LineKind::kUncorrectableFrame, 1, {2, 4, 1}},
      {"F_err: 3 6 slot:1", LineKind::kSequenceGap, 1, {3, 6}},
      {"Ferr: 3 6 slot:1", LineKind::kSequenceGap, 1, {3, 6}},
      {"O_err: 9 8 slot:1", LineKind::kOutOfOrder, 1, {9, 8}},
      {"Doubling DMR-IDs: 2620201 2620299 in 40/-1 slot:1", LineKind::kDoubledId, 1, {2620201, 2620299, 40}},
      {"[2620103]Decoded GPS Manual [19]: LAT(05232.103) LONG(001325.56) SPEED(041) RPT:74565 slot:1",
       LineKind::kPosition,
       1,
       {2620103, 19, 74565}},
      {"] 99 %[7]Decoded GPS Manual [19]: LAT(05232.103) LONG(001325.56) SPEED(041) RPT:1 slot:1",
       LineKind::kPosition,
       1,
       {7}},
      {"Master peer list reply slot:1", LineKind::kUnrecognised, 2, {}},
      {" slot:1", LineKind::kUnrecognised, 2, {}},
      {"Timeslots=[1,2]", LineKind::kConfigValue, 2, {(1 << 1) | (1 << 2)}},
      {"Timeslots=[1]", LineKind::kConfigValue, 2, {1 << 1}},
      {"Timeslots=[2,1]", LineKind::kUnrecognised, 2, {}},
  };
  for (const auto& c : cases) {
    monitor::LogParser p;
    const monitor::LogEvent e = p.parse(c.line);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    EXPECT_EQ(e.slot, c.slot) << c.line;
    for (size_t i = 0; i < c.numbers.size(); ++i) EXPECT_EQ(e.n[i], c.numbers[i]) << c.line << " #" << i;
  }
}

TEST(MonitorLogParser, LinesRunIntoOthersAreFoundBehindTheNoise) {
  monitor::LogParser p;
  EXPECT_EQ(p.parse("Wed Dec  9 17:01:2Wed Dec  9 17:01:20 2026 Moto RX- ID:5").kind, LineKind::kRfCallEnd);
  EXPECT_EQ(p.parse("] 99 %[7]Decoded GPS Manual [19]: LAT(05232.103) LONG(001325.56) SPEED(041) RPT:1").kind,
            LineKind::kPosition);
  EXPECT_EQ(p.parse("noise Wed Dec  9 17:01:20 2026 no such line").kind, LineKind::kUnrecognised);
}

TEST(MonitorPositionDegrees, DegreesAndMinutesBothSides) {
  struct Case {
    const char* text;
    int limit;
    std::optional<double> degrees;
  } cases[] = {
      {"05232.103", 90, 52.53505},    {"001325.56", 180, 13.426},     {"4807.038N", 90, 48.1173},
      {"4807.038S", 90, -48.1173},    {"01131.000W", 180, -11.51667}, {"9000.000", 90, 90.0},
      {"9000.001", 90, std::nullopt}, {"0560.000", 90, std::nullopt}, {"12.5", 90, std::nullopt},
      {"ab32.103", 90, std::nullopt}, {"", 90, std::nullopt},         {"18000.00", 180, 180.0},
  };
  for (const Case& c : cases) {
    const auto d = monitor::degrees_from_text(c.text, c.limit);
    ASSERT_EQ(d.has_value(), c.degrees.has_value()) << c.text;
    if (d) {
      EXPECT_NEAR(*d, *c.degrees, 1e-4) << c.text;
    }
  }
}

}  // namespace
