// Network calls through the jitter buffer, on a fake clock: the test plays
// the voice thread's loop, waking at every deadline the handler names and
// delivering each datagram at its arrival time.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/sockets.h"
#include "support/grid_bench.h"
#include "support/test_support.h"
#include "support/voice_packets.h"
#include "voice/hytera_to_moto.h"
#include "voice/jitter_lead.h"

namespace {

using voicetest::BurstFrames;
using voicetest::Bytes;
using voicetest::Call;

using gridtest::fake_us;
using gridtest::is_silence;
using gridtest::kKey;
using gridtest::kStartUs;
using gridtest::start_thread_on_fake_clock;

bool signed_ok(const Bytes& d) {
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), kKey, sizeof kKey, d.data(), d.size() - 10, digest, &len);
  return d.size() > 10 && Bytes(d.end() - 10, d.end()) == Bytes(digest, digest + 10);
}

unsigned int burst_length(unsigned int position) { return position == 1 ? 62u : position == 5 ? 76u : 67u; }

struct Sent {
  long long at_ms;  // since the test's start
  Bytes d;
};

class NetworkGrid : public ::testing::Test {
 protected:
  void SetUp() override { start_thread_on_fake_clock(120, bridge_.fd(), repeater_.address()); }
  void TearDown() override {
    Quorvix_sock = -1;
    JitterBuffer = JITTER_BUFFER_OFF;
  }

  // The thread's loop up to `ms`: it wakes at each deadline before then.
  void run_until(long long ms) {
    timeval at{};
    while (v2m_next_deadline(&at)) {
      const long long due = static_cast<long long>(at.tv_sec) * 1000000LL + at.tv_usec;
      if (due > kStartUs + ms * 1000) break;
      fake_us = due;
      log_ += capture_stdout([] { v2m_send_due(); });
      collect();
    }
    fake_us = kStartUs + ms * 1000;
  }

  void arrive(long long ms, const Bytes& d) {
    run_until(ms);
    memcpy(v2m_Buffer, d.data(), d.size());
    log_ += capture_stdout([&] { v2m_handle_datagram(static_cast<int>(d.size())); });
    collect();
  }

  // Loopback datagrams are queued by the time the send returns.
  void collect() {
    for (Bytes d = repeater_.receive(0); !d.empty(); d = repeater_.receive(0))
      sent_.push_back({(fake_us - kStartUs) / 1000, d});
  }

  // The datagrams after the header, each with its RTP sequence number.
  static uint16_t rtp_sequence(const Bytes& d) { return static_cast<uint16_t>(d[20] << 8 | d[21]); }
  static uint32_t rtp_time(const Bytes& d) {
    return static_cast<uint32_t>(d[22]) << 24 | d[23] << 16 | d[24] << 8 | d[25];
  }

  bool logged(const std::string& part) const { return log_.find(part) != std::string::npos; }

  LoopbackSocket bridge_;
  LoopbackSocket repeater_;
  std::vector<Sent> sent_;
  std::string log_;
};

TEST(SilenceFrame, IsTheDmrSilenceOnAirAndDecodesWithoutErrors) {
  init_Golay_23_12();
  voicetest::Frame49 bits = gridtest::silence_frame();
  unsigned char coded[72];
  codiere_AMBEplus2_33(coded, 2, bits.data());
  const unsigned char on_air[9] = {0xB9, 0xE8, 0x81, 0x52, 0x61, 0x73, 0x00, 0x2A, 0x6B};
  for (unsigned int i = 0; i < 72; ++i) EXPECT_EQ(coded[i], (on_air[i / 8] >> (7 - i % 8)) & 1) << i;
  unsigned char decoded[50] = {};
  char err_a = 0, err_b = 0;
  decodiere_AMBEplus2_33(coded, &err_a, &err_b, 2, decoded);
  EXPECT_EQ(err_a + err_b, 0);
  EXPECT_TRUE(std::equal(bits.begin(), bits.end(), decoded));
}

TEST_F(NetworkGrid, BurstsLeaveOnTheGridLostAndLateOnesAsSilenceAndTheTerminatorAfterTheTail) {
  std::mt19937 rng(21);
  const Call call{0x0A0B0C, 0x123456, false, true};
  constexpr uint16_t kFirst = 41;  // sequence of burst A, slot 0
  // Arrival of slot k's burst, ms after slot 0 arrived (-1: never). Slot 5
  // overtakes 4; slot 6 comes twice; slot 8 comes 1 ms after its slot left
  // (120 + 8 x 60 ms); slot 9 is lost.
  const long long arrival[12] = {0, 70, 130, 170, 290, 240, 400, 419, 601, -1, 650, 700};
  std::vector<BurstFrames> frames;
  for (int k = 0; k < 12; ++k) frames.push_back(voicetest::random_burst(rng));

  arrive(0, voicetest::hytera_header(call, kFirst - 1));
  const long long t0 = 60;
  struct Arrival {
    long long at;
    int k;
  };
  std::vector<Arrival> order;
  for (int k = 0; k < 12; ++k)
    if (arrival[k] >= 0) order.push_back({t0 + arrival[k], k});
  order.push_back({t0 + 420, 6});  // the duplicate
  std::sort(order.begin(), order.end(), [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
  for (const Arrival& a : order)
    arrive(a.at, voicetest::hytera_burst(call, static_cast<uint16_t>(kFirst + a.k), 1 + a.k % 6, frames[a.k]));
  arrive(t0 + 710, voicetest::hytera_end(call, kFirst + 12));
  run_until(t0 + 2000);

  // Header at once, slots 0..11 on the grid, then the terminator in slot 12.
  ASSERT_EQ(sent_.size(), 14u) << log_;
  EXPECT_EQ(sent_[0].at_ms, 0);
  EXPECT_EQ(sent_[0].d[19], 0xDD);
  for (int k = 0; k <= 12; ++k) {
    const Sent& s = sent_[1 + k];
    SCOPED_TRACE(k);
    EXPECT_EQ(s.at_ms, t0 + 120 + 60 * k);
    EXPECT_TRUE(signed_ok(s.d));
    EXPECT_EQ(rtp_sequence(s.d), kFirst + k);
    EXPECT_EQ(rtp_time(s.d), rtp_time(sent_[0].d) + 480u * static_cast<unsigned>(k + 1));
    if (k == 12) {
      EXPECT_EQ(s.d.size(), 64u);
      continue;
    }
    EXPECT_EQ(s.d.size(), burst_length(1 + k % 6));
    if (k == 8 || k == 9) {
      EXPECT_TRUE(is_silence(s.d));
    } else {
      EXPECT_EQ(voicetest::moto_frames(s.d), frames[k]);
    }
    EXPECT_EQ(s.d[5], 1);
    EXPECT_EQ(Bytes(s.d.begin() + 6, s.d.begin() + 12), Bytes({0x0A, 0x0B, 0x0C, 0x12, 0x34, 0x56}));
  }
  EXPECT_TRUE(logged(" Jitter buffer 1 start: lead 120 ms (fixed)\n")) << log_;
  EXPECT_TRUE(logged(" PTT OFF 1\n"));
  EXPECT_TRUE(logged(
      " Jitter buffer 1 end: lead 120 ms, bursts 10, late 1, lost 1, filled 2, slipped 0, skipped 0, re-anchored 0\n"))
      << log_;
  EXPECT_FALSE(logged("add delay"));
  EXPECT_EQ(transmitting, 0);
}

TEST_F(NetworkGrid, ALateJoinStartsTheClockAtBurstF) {
  std::mt19937 rng(5);
  const Call call;
  arrive(0, voicetest::hytera_burst(call, 70, 6, voicetest::random_burst(rng)));
  const BurstFrames a = voicetest::random_burst(rng);
  arrive(60, voicetest::hytera_burst(call, 71, 1, a));
  run_until(290);
  ASSERT_EQ(sent_.size(), 3u) << log_;
  EXPECT_EQ(sent_[0].d.size(), 66u);
  EXPECT_TRUE(logged(" PTT ON without START 1\n"));
  EXPECT_EQ(sent_[1].at_ms, 180);
  EXPECT_EQ(voicetest::moto_frames(sent_[1].d), a);
  EXPECT_EQ(sent_[2].at_ms, 240);
  EXPECT_EQ(sent_[2].d.size(), 67u);  // B, filled
  EXPECT_TRUE(is_silence(sent_[2].d));
}

// The transmit time-out goes by the seconds of the clock: a gap of 2 in the
// seconds counter keeps the call, 3 ends it. With the jitter buffer the call
// keeps its grid with silence until then and ends with a terminator.
TEST_F(NetworkGrid, ACallThatStopsEndsAtTheTimeOutWithATerminator) {
  std::mt19937 rng(7);
  const Call call;
  arrive(0, voicetest::hytera_header(call, 1));
  arrive(940, voicetest::hytera_burst(call, 2, 1, voicetest::random_burst(rng)));  // last voice at 1000.94 s
  run_until(3900);
  ASSERT_GE(sent_.size(), 3u);
  const Sent& end = sent_.back();
  const Sent& last_fill = sent_[sent_.size() - 2];
  EXPECT_EQ(end.d.size(), 64u);
  EXPECT_TRUE(signed_ok(end.d));
  EXPECT_EQ(last_fill.at_ms / 1000, 2);  // second 1002: gap 2, still filled
  EXPECT_TRUE(is_silence(last_fill.d));
  EXPECT_EQ(end.at_ms / 1000, 3);  // the first slot in second 1003
  EXPECT_LT(end.at_ms, 3000 + 60);
  EXPECT_TRUE(logged(" TX TIMEOUT 1\n"));
  EXPECT_TRUE(logged(" Jitter buffer 1 end: lead 120 ms, bursts 1, late 0, lost 0, filled "));
  EXPECT_EQ(transmitting, 0);

  // A header alone times out the same way, at the first instant of gap 3.
  sent_.clear();
  arrive(5100, voicetest::hytera_header(call, 9));
  run_until(8500);
  ASSERT_EQ(sent_.size(), 2u) << log_;
  EXPECT_EQ(sent_[1].d.size(), 64u);
  EXPECT_EQ(sent_[1].at_ms, 8000);
}

TEST(BothModes, TimeOutBoundaryAndANewCallNumberedBelowTheLastAreKept) {
  for (int32_t mode : {JITTER_BUFFER_OFF, 120}) {
    SCOPED_TRACE(mode);
    LoopbackSocket bridge, repeater;
    start_thread_on_fake_clock(mode, bridge.fd(), repeater.address());
    auto deliver = [](long long ms, const Bytes& d) {
      fake_us = kStartUs + ms * 1000;
      memcpy(v2m_Buffer, d.data(), d.size());
      return capture_stdout([&] { v2m_handle_datagram(static_cast<int>(d.size())); });
    };
    std::mt19937 rng(3);
    const Call call;
    // A call numbered 500.., then the next call numbered 100..: relayed.
    deliver(0, voicetest::hytera_header(call, 500));
    deliver(60, voicetest::hytera_burst(call, 501, 1, voicetest::random_burst(rng)));
    deliver(120, voicetest::hytera_end(call, 502));
    fake_us = kStartUs + 900 * 1000;
    capture_stdout([] { v2m_send_due(); });
    repeater.drain_from(bridge.port(), 16);
    std::string log = deliver(1000, voicetest::hytera_header(call, 100));
    EXPECT_NE(log.find(" PTT ON 2\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("O_err"), std::string::npos);
    log = deliver(1060, voicetest::hytera_burst(call, 101, 1, voicetest::random_burst(rng)));
    // Woken within a slot of the burst's deadline (1180 ms with the buffer).
    fake_us = kStartUs + 1200 * 1000;
    capture_stdout([] { v2m_send_due(); });
    const auto out = repeater.drain_from(bridge.port(), 16);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0].size(), 66u);
    EXPECT_EQ(out[1].size(), 62u);
    EXPECT_EQ(out[1][21], 101);
    // Seconds counter of the last voice packet: 1001. An echo in second
    // 1003 (gap 2) keeps the call; one in second 1004 (gap 3) ends it.
    log = deliver(3990, Bytes{'A'});
    EXPECT_EQ(log.find("TX TIMEOUT"), std::string::npos) << log;
    EXPECT_EQ(transmitting, 1);
    log = deliver(4050, Bytes{'A'});
    EXPECT_NE(log.find(" TX TIMEOUT 2\n"), std::string::npos) << log;
    EXPECT_EQ(transmitting, 0);
    Quorvix_sock = -1;
  }
  JitterBuffer = JITTER_BUFFER_OFF;
}

TEST(AutoLead, FollowsTheRecordedLateness) {
  // Lateness of recent bursts (ms) -> lead chosen for the next call.
  const struct {
    int samples;
    int spread_ms;      // lateness spread evenly over 0..spread
    int tail_every;     // every n-th sample 100 ms late (0: none)
    int first_late_ms;  // how late the call's first burst was: all others look that much earlier
    int lead_ms;
  } cases[] = {
      {10, 50, 0, 0, 120},    // too little measured yet
      {300, 3, 0, 0, 20},     // a clean link: the shortest lead
      {300, 40, 0, 0, 44},    // P99 39 ms plus an eighth
      {300, 40, 0, 25, 44},   // the same link, the first burst 25 ms late
      {300, 20, 100, 0, 22},  // 1 % 100 ms late: left late
      {300, 20, 50, 0, 110},  // 2 % 100 ms late: covered
      {300, 700, 0, 0, 480},  // capped
  };
  for (const auto& c : cases) {
    jitter_lead_reset();
    for (int i = 0; i < c.samples; ++i) {
      const bool tail = c.tail_every > 0 && i % c.tail_every == c.tail_every - 1;
      const int ms = tail ? 100 : c.spread_ms * i / c.samples;
      jitter_lead_record((ms - c.first_late_ms) * 1000);
    }
    jitter_lead_end_call();
    EXPECT_EQ(jitter_lead_choose_ms(), c.lead_ms) << c.samples << " " << c.spread_ms << " " << c.tail_every;
  }
}

TEST_F(NetworkGrid, AutoStartsAt120AndThenUsesWhatTheLinkNeeded) {
  JitterBuffer = JITTER_BUFFER_AUTO;
  std::mt19937 rng(9);
  const Call call;
  long long at = 0;
  uint16_t sequence = 1;
  // Two calls of 60 bursts, each burst up to 30 ms late against the first.
  for (int n = 0; n < 2; ++n) {
    arrive(at, voicetest::hytera_header(call, sequence++));
    for (int k = 0; k < 60; ++k)
      arrive(at + 60 + 60 * k + (k == 0 ? 0 : (k * 7) % 31),
             voicetest::hytera_burst(call, sequence++, 1 + k % 6, voicetest::random_burst(rng)));
    arrive(at + 60 + 60 * 60, voicetest::hytera_end(call, sequence++));
    at += 6000;
    run_until(at - 100);
  }
  EXPECT_TRUE(logged(" Jitter buffer 1 start: lead 120 ms (auto)\n")) << log_;
  // P99 of 0..30 ms is 30 ms; an eighth more gives 34 ms.
  EXPECT_TRUE(logged(" Jitter buffer 2 start: lead 34 ms (auto)\n")) << log_;
  EXPECT_TRUE(logged(
      " Jitter buffer 2 end: lead 34 ms, bursts 60, late 0, lost 0, filled 0, slipped 0, skipped 0, re-anchored 0\n"))
      << log_;
}

}  // namespace
