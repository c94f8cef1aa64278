#include "master_link/rdac.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "main/startup.h"
#include "main/supervision.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

void append_hex(Bytes& out, const char* hex) {
  unsigned value;
  int used;
  while (sscanf(hex, " %2x%n", &value, &used) == 1) {
    out.push_back(static_cast<unsigned char>(value));
    hex += used;
  }
}

// One UTF-16LE unit per character, NUL units up to the field width.
void append_utf16(Bytes& out, const std::string& text, size_t characters) {
  for (size_t i = 0; i < characters; ++i) {
    out.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
    out.push_back(0);
  }
}

struct Settings {
  const char* call;
  uint32_t id;
  unsigned char bridge[4];
  int32_t tx;
  int32_t rx;
  const char* firmware;
};

void apply(const Settings& s) {
  snprintf(RptrCall, sizeof RptrCall, "%s", s.call);
  RptrID = s.id;
  memcpy(MyBridgeID, s.bridge, 4);
  RptrQRGtx = s.tx;
  RptrQRGrx = s.rx;
  snprintf(RptrFw, sizeof RptrFw, "%s", s.firmware);
}

Bytes expected_225(const Settings& s) {
  Bytes out;
  append_hex(out, "7e 04 00 00 10 20 00 03 00 e1 56 c9 02 d4 82 ce 00 00 4e 00 04 00 02 00");
  append_utf16(out, "D5.05.09.005", 16);
  append_utf16(out, s.firmware, 16);
  append_utf16(out, s.call, 16);
  append_utf16(out, "RovEr-000G0000-001000-U1-0-B", 32);
  append_utf16(out, "13701A0730", 16);
  append_hex(out, "4e 00 04 00 01 00 00 7d 03");
  return out;
}

Bytes expected_71(const Settings& s) {
  Bytes out;
  append_hex(out, "7e 04 00 00 10 20 00 04 00 47 69 5a 02 d4 82 34 00 00");
  for (int shift : {0, 8, 16}) out.push_back(static_cast<unsigned char>(s.id >> shift));
  out.push_back(s.bridge[3]);
  append_hex(out, "02 01 00 00 00 00 00");
  for (int32_t hz : {s.tx, s.rx})
    for (int shift : {0, 8, 16, 24}) out.push_back(static_cast<unsigned char>(static_cast<uint32_t>(hz) >> shift));
  append_utf16(out, s.call, 16);
  append_hex(out, "e8 03");
  return out;
}

Bytes bytes_of(const unsigned char* data, size_t length) { return Bytes(data, data + length); }

const Settings kSixCharCall{"DL1ABC", 66051, {0x00, 0x01, 0x02, 0x09}, 431900000, 439500000, "VEXA QV 1.00"};
const Settings kEightCharCall{"DB0ABCDE", 0xFFFFFF, {0x00, 0xfe, 0xfd, 0xfc}, 145600000, 145000000, "VEXA QV 1.00"};
// Only the three-character minimum and a firmware text left empty.
const Settings kShortEverything{"K1A", 1, {0x12, 0x34, 0x56, 0x78}, 0, -1, ""};

class RdacTemplates : public ::testing::TestWithParam<Settings> {};

TEST_P(RdacTemplates, BothPacketsMatchTheirLayoutByteForByte) {
  apply(GetParam());
  fill_rdac_templates();
  EXPECT_EQ(bytes_of(rdac225, sizeof rdac225), expected_225(GetParam()));
  EXPECT_EQ(bytes_of(rdac71, sizeof rdac71), expected_71(GetParam()));
  // Stated once more on their own: whatever was filled in, the stored
  // checksums and the 225-byte packet's identifier fields stay.
  EXPECT_EQ(bytes_of(rdac225 + 10, 2), (Bytes{0x56, 0xc9}));
  EXPECT_EQ(bytes_of(rdac71 + 10, 2), (Bytes{0x69, 0x5a}));
  EXPECT_EQ(bytes_of(rdac225 + 18, 4), (Bytes{0x4e, 0x00, 0x04, 0x00}));
  EXPECT_EQ(bytes_of(rdac225 + 216, 4), (Bytes{0x4e, 0x00, 0x04, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(Configurations, RdacTemplates,
                         ::testing::Values(kSixCharCall, kEightCharCall, kShortEverything));

TEST(RdacTemplateFields, WorkedExamplesLandWhereTheMasterReadsThem) {
  apply(kSixCharCall);
  fill_rdac_templates();
  EXPECT_EQ(bytes_of(rdac71 + 18, 4), (Bytes{0x03, 0x02, 0x01, 0x09}));
  EXPECT_EQ(bytes_of(rdac71 + 33, 4), (Bytes{0xe0, 0x3c, 0x32, 0x1a}));
  EXPECT_EQ(rdac71[37], 'D');
  EXPECT_EQ(rdac71[38], 0);
}

TEST(RdacTemplateFields, EightCharacterCallSignFillsEightUnitsAndLeavesTheRestNul) {
  apply(kEightCharCall);
  fill_rdac_templates();
  for (const unsigned char* field : {rdac225 + 88, rdac71 + 37}) {
    for (int i = 0; i < 8; ++i) EXPECT_EQ(field[2 * i], static_cast<unsigned char>("DB0ABCDE"[i]));
    for (int i = 8; i < 16; ++i) EXPECT_EQ(field[2 * i], 0) << "unit " << i;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(field[2 * i + 1], 0) << "high byte " << i;
  }
}

TEST(RdacTemplateFields, RefillingWithAShorterCallSignClearsTheOldTail) {
  apply(kEightCharCall);
  fill_rdac_templates();
  apply(kShortEverything);
  fill_rdac_templates();
  EXPECT_EQ(bytes_of(rdac225, sizeof rdac225), expected_225(kShortEverything));
  EXPECT_EQ(bytes_of(rdac71, sizeof rdac71), expected_71(kShortEverything));
}

// Socket setup for the schedule: the test plays the network master (RDAC
// port and sender of answers) on loopback.
std::vector<unsigned> g_sleeps;
void record_sleep(unsigned seconds) { g_sleeps.push_back(seconds); }
// A login that lands while the thread sleeps before its second announcement.
void login_during_second_sleep(unsigned seconds) {
  g_sleeps.push_back(seconds);
  if (g_sleeps.size() == 2) Start_rdac = 1;
}

class RdacSchedule : public ::testing::Test {
 protected:
  void SetUp() override {
    apply(kSixCharCall);
    fill_rdac_templates();
    snprintf(MasterIP, sizeof MasterIP, "127.0.0.1");
    rdac_master_port = master_.port();
    Local_Repeater_audio_srv_sock = audio_.fd();
    fcntl(rdac_.fd(), F_SETFL, O_NONBLOCK);
    Local_Repeater_rdac_srv_sock = rdac_.fd();
    g_sleeps.clear();
    Start_rdac = 0;
    master_online = 1;
  }
  void TearDown() override {
    Local_Repeater_audio_srv_sock = -1;
    Local_Repeater_rdac_srv_sock = -1;
    Start_rdac = 0;
    master_online = 0;
  }

  std::string run_turns(int turns, void (*sleeper)(unsigned) = record_sleep) {
    return capture_stdout([&] {
      for (int i = 0; i < turns; ++i) rdac_turn(sleeper);
    });
  }

  void answer(size_t length) {
    master_.send_to(rdac_.port(), Bytes(length, 0x5a));
    ASSERT_TRUE(rdac_.has_datagram(1000));
  }

  // Every datagram the master got, checking each came from the voice socket.
  std::vector<Bytes> announcements() { return master_.drain_from(audio_.port(), 64); }

  void expect_pairs(const std::vector<Bytes>& got, size_t pairs) {
    ASSERT_EQ(got.size(), 2 * pairs);
    for (size_t i = 0; i < got.size(); i += 2) {
      EXPECT_EQ(got[i], bytes_of(rdac225, sizeof rdac225));
      EXPECT_EQ(got[i + 1], bytes_of(rdac71, sizeof rdac71));
    }
  }

  LoopbackSocket master_;
  LoopbackSocket audio_;
  LoopbackSocket rdac_;
};

TEST_F(RdacSchedule, IdleTurnsNeitherSleepNorSend) {
  EXPECT_EQ(run_turns(3), "");
  EXPECT_TRUE(g_sleeps.empty());
  EXPECT_TRUE(announcements().empty());
}

TEST_F(RdacSchedule, OneLoginGivesFourPairsLoggedTwoThreeFourZero) {
  Start_rdac = 1;
  EXPECT_EQ(run_turns(7),
            "Local_Repeater_rdac 2\nLocal_Repeater_rdac 3\n"
            "Local_Repeater_rdac 4\nLocal_Repeater_rdac 0\n");
  EXPECT_EQ(g_sleeps, (std::vector<unsigned>{6, 6, 6, 6}));
  EXPECT_EQ(Start_rdac, 0);
  expect_pairs(announcements(), 4);
}

TEST_F(RdacSchedule, LoginDuringTheScheduleStartsTheCountAgain) {
  Start_rdac = 1;
  EXPECT_EQ(run_turns(8, login_during_second_sleep),
            "Local_Repeater_rdac 2\nLocal_Repeater_rdac 1\nLocal_Repeater_rdac 2\n"
            "Local_Repeater_rdac 3\nLocal_Repeater_rdac 4\nLocal_Repeater_rdac 0\n");
  expect_pairs(announcements(), 6);
}

TEST_F(RdacSchedule, AnswerOfTwentyFourBytesWhileLoggedInEndsTheSchedule) {
  Start_rdac = 1;
  answer(24);
  EXPECT_EQ(run_turns(5), "Local_Repeater_rdac 2\nLocal_Repeater_rdac \n");
  EXPECT_EQ(Start_rdac, 0);
  EXPECT_EQ(g_sleeps.size(), 1u);
  expect_pairs(announcements(), 1);
}

TEST_F(RdacSchedule, AnswerWhileIdleIsAcknowledgedWithoutSending) {
  answer(24);
  EXPECT_EQ(run_turns(1), "Local_Repeater_rdac \n");
  EXPECT_TRUE(announcements().empty());
}

struct IgnoredAnswer {
  size_t length;
  int online;
};

class RdacIgnoredAnswer : public RdacSchedule, public ::testing::WithParamInterface<IgnoredAnswer> {};

TEST_P(RdacIgnoredAnswer, IsDrainedAndTheScheduleRunsToTheEnd) {
  master_online = GetParam().online;
  Start_rdac = 1;
  answer(GetParam().length);
  EXPECT_EQ(run_turns(5),
            "Local_Repeater_rdac 2\nLocal_Repeater_rdac 3\n"
            "Local_Repeater_rdac 4\nLocal_Repeater_rdac 0\n");
  EXPECT_FALSE(rdac_.has_datagram(0));
  expect_pairs(announcements(), 4);
}

INSTANTIATE_TEST_SUITE_P(LengthsAndLoginStates, RdacIgnoredAnswer,
                         ::testing::Values(IgnoredAnswer{23, 1}, IgnoredAnswer{25, 1}, IgnoredAnswer{24, 0},
                                           IgnoredAnswer{0, 1}, IgnoredAnswer{300, 1}));

TEST_F(RdacSchedule, UnopenedSocketsOnlyLog) {
  Local_Repeater_audio_srv_sock = -1;
  Local_Repeater_rdac_srv_sock = -1;
  Start_rdac = 4;
  EXPECT_EQ(run_turns(2), "Local_Repeater_rdac 0\n");
  EXPECT_TRUE(announcements().empty());
}

}  // namespace
