#include "voice/location_data.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kHeader = 6;
constexpr int kBlock = 8;
constexpr uint32_t kPeer = 123456;
constexpr uint32_t kSource = 2620001;  // 27 fa 61
constexpr uint32_t kDestination = 0x0a0b0c;

struct Call {
  uint32_t peer = kPeer;
  uint32_t source = kSource;
  uint32_t destination = kDestination;
  bool timeslot2 = true;
};

// A Motorola data datagram as the repeater sends it, signature trailer included.
// Neighbouring bits of the timeslot and data-type bytes are set on purpose.
Bytes data_packet(int type, const unsigned char* block = nullptr, const Call& call = {}, size_t length = 64) {
  Bytes p(length, 0);
  auto put = [&](size_t at, unsigned char v) {
    if (at < p.size()) p[at] = v;
  };
  put(0, 0x84);
  for (int i = 0; i < 4; ++i) put(1 + i, static_cast<unsigned char>(call.peer >> (24 - 8 * i)));
  for (int i = 0; i < 3; ++i) {
    put(6 + i, static_cast<unsigned char>(call.source >> (16 - 8 * i)));
    put(9 + i, static_cast<unsigned char>(call.destination >> (16 - 8 * i)));
  }
  put(17, call.timeslot2 ? 0xa0 : 0x80);
  put(30, static_cast<unsigned char>(0x40 | type));
  if (block)
    for (int i = 0; i < 16; ++i) put(38 + i, block[i]);
  return p;
}

// The report text as the radio lays it out: latitude with its point 5 in,
// longitude with its point 6 in, a blank, then the speed.
constexpr char kReportText[] = "N5123.4567E00123.456 042K";

// Report contents with the latitude's point at `dot`, the rest filler without points.
std::array<unsigned char, 112> report_with_dot(int dot) {
  std::array<unsigned char, 112> r{};
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>('a' + i % 26);
  if (dot >= 5) memcpy(r.data() + dot - 5, kReportText, sizeof kReportText - 1);
  return r;
}

class LocationData : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_location_data();
    snprintf(MasterIP, sizeof MasterIP, "127.0.0.1");
    location_record_port = master_.port();
    Local_Repeater_audio_srv_sock = audio_.fd();
    master_online = 1;
  }
  void TearDown() override {
    Local_Repeater_audio_srv_sock = -1;
    master_online = 0;
  }

  // Feeds datagrams and returns the return value of each.
  std::vector<int> feed(const std::vector<Bytes>& packets) {
    std::vector<int> results;
    log_ += capture_stdout([&] {
      for (const Bytes& p : packets) results.push_back(handle_location_data(p.data(), static_cast<int>(p.size())));
    });
    return results;
  }

  // A header followed by `blocks` data blocks cut from the report, the first
  // of which only pads (it is skipped).
  std::vector<Bytes> report(const std::array<unsigned char, 112>& text, int blocks, bool header = true,
                            const Call& call = {}) {
    std::vector<Bytes> out;
    if (header) out.push_back(data_packet(kHeader, nullptr, call));
    static const unsigned char skipped[16] = {'s', 's', 's', 's', 's', 's', 's', 's',
                                              '.', '.', '.', '.', '.', '.', '.', '.'};
    for (int b = 0; b < blocks; ++b)
      out.push_back(data_packet(kBlock, b == 0 ? skipped : text.data() + 16 * (b - 1), call));
    return out;
  }

  std::vector<Bytes> records() { return master_.drain_from(audio_.port(), 32); }

  LoopbackSocket master_;
  LoopbackSocket audio_;
  std::string log_;
};

TEST_F(LocationData, FourthBlockLogsTheExactLineAndSendsTheRecord) {
  EXPECT_EQ(feed(report(report_with_dot(17), 4)), (std::vector<int>{1, 0, 1, 1, 1}));
  EXPECT_EQ(log_,
            "[2620001]Decoded GPS Auto Time+Dist [17]: LAT(N5123.456) LONG(E00123.45) "
            "SPEED(042) RPT:123456\r\n");
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), static_cast<size_t>(LOCATION_RECORD_SIZE));
}

struct DotCase {
  int dot;
  const char* mode;
  unsigned char digit;
};

class LocationModes : public LocationData, public ::testing::WithParamInterface<DotCase> {};

TEST_P(LocationModes, DotPositionSelectsModeTextAndDigit) {
  const DotCase& c = GetParam();
  feed(report(report_with_dot(c.dot), 4));
  std::string expected_head = "[2620001]Decoded GPS " + std::string(c.mode) + " [" + std::to_string(c.dot) + "]: ";
  EXPECT_EQ(log_.substr(0, expected_head.size()), expected_head);
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0][62], '2');
  EXPECT_EQ(got[0][63], c.digit);
  EXPECT_EQ(std::string(got[0].begin() + 43, got[0].begin() + 52), "N5123.456");
}

INSTANTIATE_TEST_SUITE_P(Positions, LocationModes,
                         ::testing::Values(DotCase{17, "Auto Time+Dist", '4'}, DotCase{19, "Manual", '1'},
                                           DotCase{25, "Auto Time", '2'}, DotCase{20, "unknown", '0'}));

TEST_F(LocationData, TextRunningPastTheStoredBlocksReadsAsZeros) {
  // Point at 36: longitude and speed reach into the fifth block, not yet stored.
  feed(report(report_with_dot(36), 4));
  EXPECT_EQ(log_,
            "[2620001]Decoded GPS unknown [36]: LAT(N5123.456) LONG(E00123.  ) SPEED(   ) "
            "RPT:123456\r\n");
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Bytes(got[0].begin() + 53, got[0].begin() + 62), (Bytes{'E', '0', '0', '1', '2', '3', '.', 0, 0}));
}

// Record bytes with nothing but the documented fields written.
Bytes expected_record(const std::string& id_text, const Bytes& destination_tail, size_t tail_at, unsigned char digit) {
  Bytes r(LOCATION_RECORD_SIZE, 0);
  memcpy(r.data(), id_text.data(), id_text.size());
  for (size_t i = 0; i < destination_tail.size(); ++i) r[tail_at + i] = destination_tail[i];
  r[25] = 0x27;
  r[26] = 0xfa;
  r[27] = 0x61;
  memcpy(r.data() + 43, "N5123.456", 9);
  memcpy(r.data() + 53, "E00123.45", 9);
  r[62] = '2';
  r[63] = digit;
  return r;
}

TEST_F(LocationData, RecordForSixDigitPeerKeepsTwoDestinationBytes) {
  feed(report(report_with_dot(17), 4));
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expected_record("123456Q.6", {0x0b, 0x0c}, 10, '4'));
}

TEST_F(LocationData, RecordForSevenDigitPeerKeepsOneDestinationByte) {
  Call call;
  call.peer = 1234567;
  feed(report(report_with_dot(19), 4, true, call));
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expected_record("123456Q6.6", {0x0c}, 11, '1'));
}

TEST_F(LocationData, NegativePeerIdentifierFitsItsFieldAndSparesTheSource) {
  Call call;
  call.peer = 0x80000000u;
  feed(report(report_with_dot(25), 4, true, call));
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expected_record("-21474Q36486.6", {}, 0, '2'));
  EXPECT_NE(log_.find("RPT:-2147483648\r\n"), std::string::npos);
}

TEST_F(LocationData, ThreeBlocksAfterAHeaderGiveNothing) {
  EXPECT_EQ(feed(report(report_with_dot(17), 3)), (std::vector<int>{1, 0, 1, 1}));
  EXPECT_EQ(log_, "");
  EXPECT_TRUE(records().empty());
}

TEST_F(LocationData, FourBlocksWithoutAnyHeaderSinceStartDecode) {
  EXPECT_EQ(feed(report(report_with_dot(17), 4, false)), (std::vector<int>{0, 1, 1, 1}));
  EXPECT_NE(log_.find("Decoded GPS Auto Time+Dist [17]"), std::string::npos);
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(LocationData, EveryBlockAfterTheFourthDecodesAgain) {
  feed(report(report_with_dot(17), 5));
  EXPECT_EQ(records().size(), 2u);
  // The fifth block is stored behind the others.
  std::array<unsigned char, 112> text = report_with_dot(17);
  EXPECT_EQ(Bytes(location_buffer, location_buffer + 64), Bytes(text.begin(), text.begin() + 64));
}

TEST_F(LocationData, BlocksPastTheBufferAreDroppedButStillDecode) {
  std::array<unsigned char, 112> text = report_with_dot(17);
  std::vector<Bytes> packets = report(text, 7);
  // Two more blocks than the buffer holds, full of points that must not land anywhere.
  unsigned char points[16];
  memset(points, '.', sizeof points);
  packets.push_back(data_packet(kBlock, points));
  packets.push_back(data_packet(kBlock, points));
  feed(packets);
  EXPECT_EQ(Bytes(location_buffer, location_buffer + LOCATION_BUFFER_SIZE),
            Bytes(text.begin(), text.begin() + LOCATION_BUFFER_SIZE));
  EXPECT_EQ(records().size(), 6u);  // blocks four to nine
}

TEST_F(LocationData, PointsOutsidePositionsFiveToFortyThreeAreNotSearched) {
  // Points at 3 and 14 would pass both checks if the search began at 0; a
  // point at 44 lies past its end.
  std::array<unsigned char, 112> text = report_with_dot(-1);
  text[3] = '.';
  text[14] = '.';
  text[44] = '.';
  feed(report(text, 4));
  EXPECT_EQ(log_, "");
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 1u);
  // Nothing decoded yet: texts zero, mode unknown.
  Bytes expected(LOCATION_RECORD_SIZE, 0);
  memcpy(expected.data(), "123456Q.6", 9);
  expected[10] = 0x0b;
  expected[11] = 0x0c;
  expected[25] = 0x27;
  expected[26] = 0xfa;
  expected[27] = 0x61;
  expected[62] = '2';
  expected[63] = '0';
  EXPECT_EQ(got[0], expected);
}

TEST_F(LocationData, ReportWithoutPointsReusesTheLastPositionAndTexts) {
  feed(report(report_with_dot(19), 4));
  log_.clear();
  std::array<unsigned char, 112> text = report_with_dot(-1);
  text[19] = '.';  // only one of the two points where the last report had them
  feed(report(text, 4));
  EXPECT_EQ(log_, "");
  std::vector<Bytes> got = records();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1], got[0]);
}

TEST_F(LocationData, OfflineMasterGetsNoRecordThoughItIsBuilt) {
  master_online = 0;
  feed(report(report_with_dot(17), 4));
  EXPECT_NE(log_.find("Decoded GPS"), std::string::npos);
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(Bytes(location_record, location_record + LOCATION_RECORD_SIZE),
            expected_record("123456Q.6", {0x0b, 0x0c}, 10, '4'));
}

TEST_F(LocationData, TimeslotOneIsPassedOverAndTheTurnGoesOn) {
  Call ts1;
  ts1.timeslot2 = false;
  std::vector<Bytes> packets = report(report_with_dot(17), 4, true, ts1);
  packets.push_back(data_packet(3, nullptr, ts1));
  EXPECT_EQ(feed(packets), (std::vector<int>(6, 1)));
  EXPECT_EQ(log_, "");
  EXPECT_TRUE(records().empty());
}

TEST_F(LocationData, OtherDataTypesEndTheTurnAndChangeNothing) {
  std::array<unsigned char, 112> text = report_with_dot(17);
  std::vector<Bytes> packets = report(text, 3);
  packets.push_back(data_packet(7, text.data() + 48));
  packets.push_back(data_packet(0x3f, text.data() + 48));
  EXPECT_EQ(feed(packets), (std::vector<int>{1, 0, 1, 1, 0, 0}));
  EXPECT_TRUE(records().empty());
  feed({data_packet(kBlock, text.data() + 48)});
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(LocationData, HeaderStartsAFreshReport) {
  std::vector<Bytes> packets = report(report_with_dot(17), 3);
  std::vector<Bytes> again = report(report_with_dot(25), 4);
  packets.insert(packets.end(), again.begin(), again.end());
  feed(packets);
  EXPECT_EQ(log_.find("[17]"), std::string::npos);
  EXPECT_NE(log_.find("Decoded GPS Auto Time [25]"), std::string::npos);
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(LocationData, ShortDatagramsAreNotReadPastTheirEnd) {
  std::array<unsigned char, 112> text = report_with_dot(17);
  std::vector<Bytes> packets = report(text, 1);
  // Cut before the data type, and a block cut inside its contents: neither counts.
  packets.push_back(data_packet(kBlock, text.data(), {}, 30));
  packets.push_back(data_packet(kBlock, text.data(), {}, 53));
  for (int b = 0; b < 3; ++b) packets.push_back(data_packet(kBlock, text.data() + 16 * b));
  EXPECT_EQ(feed(packets), (std::vector<int>{1, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(records().size(), 1u);
  EXPECT_EQ(Bytes(location_buffer, location_buffer + 48), Bytes(text.begin(), text.begin() + 48));
}

}  // namespace
