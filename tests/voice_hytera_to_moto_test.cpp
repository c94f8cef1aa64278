// Calls from the network master to the Motorola repeater, one datagram at a
// time through the handler of the voice thread, on a clock the test sets.
#include "voice/hytera_to_moto.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "support/test_support.h"
#include "support/voice_packets.h"

namespace {

using voicetest::Bytes;
using voicetest::Call;

const unsigned char kKey[20] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

timeval fake_now;
long slept_us;

void advance_ms(long ms) {
  long us = fake_now.tv_usec + ms * 1000;
  fake_now.tv_sec += us / 1000000;
  fake_now.tv_usec = us % 1000000;
}

bool signed_ok(const Bytes& d) {
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), kKey, sizeof kKey, d.data(), d.size() - 10, digest, &len);
  return d.size() > 10 && Bytes(d.end() - 10, d.end()) == Bytes(digest, digest + 10);
}

struct Outcome {
  std::string log;
  std::vector<Bytes> sent;
  long slept_us;
};

class HyteraToMoto : public ::testing::Test {
 protected:
  void SetUp() override {
    voicetest::prepare_network_voice(kKey, bridge_.fd(), repeater_.address());
    fake_now = {1000, 0};
    v2m_clock = [](timeval* t) { *t = fake_now; };
    v2m_sleep_us = [](unsigned int us) {
      slept_us += us;
      advance_ms(us / 1000);
    };
    v2m_reset();
    v2m_seq_num = 0;
    mot_time = 1000000000u;
  }
  void TearDown() override { Quorvix_sock = -1; }

  // The datagram arrives `after_ms` after the previous one.
  Outcome deliver(const Bytes& d, long after_ms = 60) {
    advance_ms(after_ms);
    slept_us = 0;
    Outcome o{};
    memcpy(v2m_Buffer, d.data(), d.size());
    o.log = capture_stdout([&] { v2m_handle_datagram(static_cast<int>(d.size())); });
    o.sent = repeater_.drain_from(bridge_.port(), 4);
    o.slept_us = slept_us;
    return o;
  }

  LoopbackSocket bridge_;
  LoopbackSocket repeater_;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs first, in a process of its own under CTest: before the Motorola side
// has sent anything there is no address to send to.
TEST(HyteraToMotoStart, NothingIsSentBeforeTheRepeaterIsKnown) {
  LoopbackSocket bridge;
  Quorvix_sock = bridge.fd();
  v2m_sleep_us = [](unsigned int) {};
  v2m_reset();
  Bytes header = voicetest::hytera_header(Call{}, 1);
  memcpy(v2m_Buffer, header.data(), header.size());
  std::string log = capture_stdout([] { v2m_handle_datagram(72); });
  EXPECT_TRUE(contains(log, " PTT ON 1\n"));
  sockaddr_in nobody{};
  EXPECT_FALSE(get_fromUser2(&nobody));
  Quorvix_sock = -1;
}

TEST_F(HyteraToMoto, CallIsRelayedSignedAndTimestamped) {
  std::mt19937 rng(11);
  const Call call{0x0A0B0C, 0x123456, false, true};

  Outcome first = deliver(voicetest::hytera_header(call, 1), 5000);
  ASSERT_EQ(first.sent.size(), 1u);
  const Bytes h = first.sent[0];
  EXPECT_EQ(h.size(), 66u);
  EXPECT_EQ(h[0], 0x80);
  EXPECT_EQ(Bytes(h.begin() + 1, h.begin() + 5), Bytes({0x00, 0x04, 0x03, 0x56}));
  EXPECT_EQ(h[5], 1);  // first call after start
  EXPECT_EQ(h[19], 0xDD);
  EXPECT_EQ(Bytes(h.begin() + 6, h.begin() + 12), Bytes({0x0A, 0x0B, 0x0C, 0x12, 0x34, 0x56}));
  EXPECT_EQ(Bytes(h.begin() + 41, h.begin() + 47), Bytes({0x12, 0x34, 0x56, 0x0A, 0x0B, 0x0C}));
  EXPECT_EQ(Bytes(h.begin() + 20, h.begin() + 26), Bytes({0x00, 0x01, 0x3B, 0x9A, 0xCB, 0xE0}));
  EXPECT_TRUE(signed_ok(h));
  EXPECT_EQ(first.slept_us, 0);
  EXPECT_TRUE(contains(first.log, " RX SLOT=2 DST_ID=1193046 SRC_ID=658188 TYPE=Voice\n"));
  EXPECT_TRUE(contains(first.log, std::string(78, '_')));
  EXPECT_TRUE(contains(first.log, " PTT ON 1\n"));

  // The repeated header 10 ms later: same call, marker 0x5D, held back to 59 ms.
  Outcome again = deliver(voicetest::hytera_header(call, 2), 10);
  ASSERT_EQ(again.sent.size(), 1u);
  EXPECT_EQ(again.sent[0][19], 0x5D);
  EXPECT_EQ(again.sent[0][5], 1);
  EXPECT_EQ(Bytes(again.sent[0].begin() + 13, again.sent[0].begin() + 17), Bytes(h.begin() + 13, h.begin() + 17));
  EXPECT_EQ(again.slept_us, 49000);
  EXPECT_TRUE(contains(again.log, " add delay: 49000us to pacnum: 2\n"));
  EXPECT_FALSE(contains(again.log, "RX SLOT"));

  const size_t lengths[6] = {62, 67, 67, 67, 76, 67};
  uint32_t last_time = 1000000000u + 2 * 480;
  for (unsigned int position = 1; position <= 6; ++position) {
    const voicetest::BurstFrames frames = voicetest::random_burst(rng);
    Outcome b = deliver(voicetest::hytera_burst(call, static_cast<uint16_t>(2 + position), position, frames));
    ASSERT_EQ(b.sent.size(), 1u) << position;
    const Bytes& d = b.sent[0];
    EXPECT_EQ(d.size(), lengths[position - 1]);
    EXPECT_TRUE(signed_ok(d));
    EXPECT_EQ(voicetest::moto_frames(d), frames) << position;
    EXPECT_EQ(d[51] & 0x03, 0);
    const uint32_t time = static_cast<uint32_t>(d[22] << 24 | d[23] << 16 | d[24] << 8 | d[25]);
    EXPECT_EQ(time, last_time + 480);
    last_time = time;
    if (position == 5) {
      EXPECT_EQ(Bytes(d.begin() + 59, d.begin() + 65), Bytes({0x12, 0x34, 0x56, 0x0A, 0x0B, 0x0C}));
    }
    EXPECT_EQ(b.log.find("BER"), std::string::npos);
  }

  Outcome end = deliver(voicetest::hytera_end(call, 9));
  ASSERT_EQ(end.sent.size(), 1u);
  EXPECT_EQ(end.sent[0].size(), 64u);
  EXPECT_TRUE(signed_ok(end.sent[0]));
  EXPECT_TRUE(contains(end.log, " PTT OFF 1\n"));
  EXPECT_TRUE(contains(end.log, " VOICE RX SLOT 2 END USER_ID=658188 \n"));
  EXPECT_EQ(transmitting, 0);
}

TEST_F(HyteraToMoto, PacingHoldsBunchedPacketsTo59Milliseconds) {
  std::mt19937 rng(2);
  const Call call;
  deliver(voicetest::hytera_header(call, 1));
  // Gap since the last send -> sleep.
  const struct {
    long gap_ms;
    long sleep_us;
  } cases[] = {{10, 49000}, {29, 30000}, {30, 0}, {59, 0}, {2000, 0}, {0, 59000}};
  uint16_t sequence = 2;
  for (const auto& c : cases) {
    Outcome b =
        deliver(voicetest::hytera_burst(call, sequence, 1 + sequence % 6, voicetest::random_burst(rng)), c.gap_ms);
    ++sequence;
    EXPECT_EQ(b.slept_us, c.sleep_us) << c.gap_ms;
    EXPECT_EQ(contains(b.log, "add delay"), c.sleep_us > 0) << c.gap_ms;
  }
  // The terminator is paced without a log line.
  Outcome end = deliver(voicetest::hytera_end(call, sequence), 5);
  EXPECT_EQ(end.slept_us, 54000);
  EXPECT_FALSE(contains(end.log, "add delay"));
}

TEST_F(HyteraToMoto, HeadersStartCallsLateJoinAndWrapTheCallNumber) {
  std::mt19937 rng(4);
  const Call call;
  v2m_seq_num = 254;
  Bytes h1 = deliver(voicetest::hytera_header(call, 1)).sent.at(0);
  EXPECT_EQ(h1[5], 255);
  deliver(voicetest::hytera_burst(call, 2, 1, voicetest::random_burst(rng)));
  // A header after bursts starts a new call: next number (255 -> 0), new tag.
  Outcome next = deliver(voicetest::hytera_header(call, 3));
  ASSERT_EQ(next.sent.size(), 1u);
  EXPECT_EQ(next.sent[0][5], 0);
  EXPECT_EQ(next.sent[0][19], 0xDD);
  EXPECT_TRUE(contains(next.log, " PTT ON 0\n"));
  deliver(voicetest::hytera_end(call, 4));

  // Joining late: burst F while idle stands in for the header and is not sent itself.
  Outcome late = deliver(voicetest::hytera_burst(call, 20, 6, voicetest::random_burst(rng)));
  ASSERT_EQ(late.sent.size(), 1u);
  EXPECT_EQ(late.sent[0].size(), 66u);
  EXPECT_EQ(late.sent[0][19], 0xDD);
  EXPECT_TRUE(contains(late.log, " PTT ON without START 1\n"));
  // A burst A while transmitting is relayed, and F is a burst again.
  EXPECT_EQ(deliver(voicetest::hytera_burst(call, 21, 1, voicetest::random_burst(rng))).sent.at(0).size(), 62u);
  EXPECT_EQ(deliver(voicetest::hytera_burst(call, 22, 6, voicetest::random_burst(rng))).sent.at(0).size(), 67u);
}

TEST_F(HyteraToMoto, OrderChecksDropOldPacketsAndReportGaps) {
  std::mt19937 rng(6);
  const Call call;
  deliver(voicetest::hytera_header(call, 10));
  Outcome old_header = deliver(voicetest::hytera_header(call, 10));
  EXPECT_TRUE(old_header.sent.empty());
  EXPECT_TRUE(contains(old_header.log, "O_err: 10 10\n"));
  Outcome gap_header = deliver(voicetest::hytera_header(call, 12));
  EXPECT_EQ(gap_header.sent.size(), 1u);
  EXPECT_TRUE(contains(gap_header.log, "F_err: 10 12\n"));

  Outcome gap = deliver(voicetest::hytera_burst(call, 14, 1, voicetest::random_burst(rng)));
  EXPECT_EQ(gap.sent.size(), 1u);
  EXPECT_TRUE(contains(gap.log, "Ferr: 12 14\n"));
  Outcome stale = deliver(voicetest::hytera_burst(call, 13, 2, voicetest::random_burst(rng)));
  EXPECT_TRUE(stale.sent.empty());
  EXPECT_EQ(stale.log.find("err"), std::string::npos);
  // One stray number far ahead does not silence the rest of the call: far
  // behind the last one, the numbering is followed again.
  EXPECT_EQ(deliver(voicetest::hytera_burst(call, 60000, 3, voicetest::random_burst(rng))).sent.size(), 1u);
  Outcome resumed = deliver(voicetest::hytera_burst(call, 15, 4, voicetest::random_burst(rng)));
  EXPECT_EQ(resumed.sent.size(), 1u);
  EXPECT_TRUE(contains(resumed.log, "Ferr: 60000 15\n"));
  // Sequence 0 passes the check of a burst, but not that of a terminator.
  EXPECT_EQ(deliver(voicetest::hytera_burst(call, 0, 2, voicetest::random_burst(rng))).sent.size(), 1u);
  Outcome end = deliver(voicetest::hytera_end(call, 0));
  EXPECT_TRUE(end.sent.empty());
  EXPECT_TRUE(contains(end.log, " PTT OFF 1\n"));
  EXPECT_EQ(transmitting, 0);
}

TEST_F(HyteraToMoto, OnlyTimeslotTwoIsRelayed) {
  std::mt19937 rng(8);
  Call slot1;
  slot1.slot2 = false;
  Outcome a = deliver(voicetest::hytera_header(slot1, 1));
  Outcome b = deliver(voicetest::hytera_burst(slot1, 2, 1, voicetest::random_burst(rng)));
  Outcome end = deliver(voicetest::hytera_end(slot1, 3));
  Outcome again = deliver(voicetest::hytera_header(slot1, 4));
  EXPECT_TRUE(a.sent.empty() && b.sent.empty() && end.sent.empty() && again.sent.empty());
  EXPECT_TRUE(contains(a.log, " RX SLOT=1 "));
  EXPECT_EQ(b.log, "");
  EXPECT_TRUE(contains(end.log, " VOICE RX SLOT 1 END USER_ID=2620001 \n"));
  EXPECT_TRUE(contains(again.log, " RX SLOT=1 "));

  // A slot code that is neither 1 nor 2 is logged on every packet, never relayed.
  Bytes odd = voicetest::hytera_header(Call{}, 5);
  hyt_set_slot(odd.data(), 7);
  for (int i = 0; i < 2; ++i) {
    Outcome o = deliver(odd);
    EXPECT_TRUE(o.sent.empty());
    EXPECT_TRUE(contains(o.log, " RX SLOT=7 "));
  }
  EXPECT_EQ(rx[1], 1);
  EXPECT_EQ(rx[2], 0);
}

TEST_F(HyteraToMoto, ASecondTalkerOnTheGroupIsDropped) {
  std::mt19937 rng(10);
  const Call talker{100, 9, false, true};
  const Call other{200, 9, false, true};
  deliver(voicetest::hytera_header(talker, 1));
  Outcome doubled = deliver(voicetest::hytera_burst(other, 2, 1, voicetest::random_burst(rng)));
  EXPECT_TRUE(doubled.sent.empty());
  EXPECT_TRUE(contains(doubled.log, "Doubling DMR-IDs: 100 200 in 2/-1\r\n"));
  const Call private_other{200, 9, true, true};
  Outcome relayed = deliver(voicetest::hytera_burst(private_other, 3, 1, voicetest::random_burst(rng)));
  ASSERT_EQ(relayed.sent.size(), 1u);
  EXPECT_EQ(relayed.sent[0][0], 0x81);
}

TEST_F(HyteraToMoto, FrameErrorsAreCountedAndAnUncorrectableFrameRepeatsTheLastGoodOne) {
  std::mt19937 rng(12);
  const Call call;
  deliver(voicetest::hytera_header(call, 1));
  const voicetest::BurstFrames frames = voicetest::random_burst(rng);
  Bytes p = voicetest::hytera_burst(call, 2, 1, frames);
  // Four errors in the A word of frame 2 (W23..W20 at frame bits 0, 4, 8, 12).
  for (unsigned int bit : {0u, 4u, 8u, 12u}) {
    const unsigned int k = hyt_ambe_burst_bit(1, bit);
    p[hyt_burst_offset(k / 8)] ^= static_cast<unsigned char>(0x80u >> (k % 8));
  }
  Outcome o = deliver(p);
  ASSERT_EQ(o.sent.size(), 1u);
  EXPECT_TRUE(contains(o.log, "AMBE 2, Err_A = 4 Err_B = 3\r\n"));
  EXPECT_TRUE(contains(o.log, "BER : 4.964539%\r\n"));
  EXPECT_FALSE(contains(o.log, "AMBE 1"));
  const voicetest::BurstFrames out = voicetest::moto_frames(o.sent[0]);
  EXPECT_EQ(out[0], frames[0]);
  EXPECT_EQ(out[1], frames[0]);
  EXPECT_EQ(out[2], frames[2]);
}

TEST_F(HyteraToMoto, TimeOutEndsTheCallOnTheNextDatagram) {
  const Call call;
  deliver(voicetest::hytera_header(call, 1));
  // Just under three seconds by the seconds counter: still the same call.
  Outcome echo = deliver(Bytes{'A'}, 1900);
  EXPECT_EQ(echo.log, "");
  EXPECT_EQ(transmitting, 1);
  Outcome late = deliver(Bytes{'A'}, 1200);
  EXPECT_TRUE(contains(late.log, " TX TIMEOUT 1\n"));
  EXPECT_TRUE(late.sent.empty());
  EXPECT_EQ(transmitting, 0);
  EXPECT_EQ(rx[2], 0);
  // The next header starts a fresh call, unpaced.
  Outcome next = deliver(voicetest::hytera_header(call, 2));
  EXPECT_TRUE(contains(next.log, " PTT ON 2\n"));
  EXPECT_EQ(next.slept_us, 0);
}

TEST_F(HyteraToMoto, AFirstHeaderAfterAQuietSpellIsNoTimeOut) {
  deliver(Bytes{'A'});
  Outcome header = deliver(voicetest::hytera_header(Call{}, 1), 4500);
  Outcome burst = deliver(voicetest::hytera_header(Call{}, 2), 60);
  EXPECT_FALSE(contains(header.log + burst.log, "TX TIMEOUT"));
  EXPECT_EQ(burst.sent.at(0)[19], 0x5D);
}

TEST_F(HyteraToMoto, EchoRefreshesALiveLoginOnly) {
  master_timer = 3;
  deliver(Bytes{'A'});
  EXPECT_EQ(master_timer, 15);
  master_timer = 0;
  deliver(Bytes{'A'});
  EXPECT_EQ(master_timer, 0);
  // Neither a longer datagram nor another single byte is an echo.
  master_timer = 3;
  deliver(Bytes{'A', 'A'});
  deliver(Bytes{'B'});
  EXPECT_EQ(master_timer, 3);
}

}  // namespace
