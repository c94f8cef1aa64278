// The worker threads wait on their sockets and deadlines instead of polling.
// On an injected monotonic clock: the repeater side's keep-alive pair keeps
// its 5.08 s rhythm whatever arrives in between; the RDAC thread wakes for a
// login and for answers and keeps its schedule; the waits return for a
// datagram, a raised signal or a passed deadline, and for nothing else.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <string>
#include <vector>

#include "ipsc/control_packets.h"
#include "ipsc/ipsc_peer.h"
#include "ipsc/packet_sign.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/thread_wait.h"
#include "main/trusted_senders.h"
#include "master_link/rdac.h"
#include "support/ipsc_side.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

int64_t fake_now_us = 0;
int64_t fake_clock() { return fake_now_us; }

const unsigned char kKey[20] = {0x5a, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x01, 0x02, 0x03, 0x04};

class ThreadWait : public ::testing::Test {
 protected:
  void SetUp() override {
    monotonic_us = fake_clock;
    fake_now_us = 7'000'000;
  }
  void TearDown() override {
    monotonic_us = saved_clock_;
    Quorvix_sock = -1;
  }
  int64_t (*saved_clock_)() = monotonic_us;
};

// A signed keep-alive answer as the repeater sends it.
Bytes keep_alive_answer() {
  Bytes d(24, 0);
  d[0] = IPSC_KEEPALIVE_REPLY;
  d[4] = 0x01;
  sign_ipsc_packet(d.data(), 14);
  return d;
}

TEST_F(ThreadWait, KeepAlivePairEvery5080MsWhateverArrives) {
  const struct {
    const char* traffic;
    int64_t every_us;  // one datagram this often (0: none)
    int at_once;       // ... and this many at each
  } cases[] = {{"nothing", 0, 0}, {"one every 60 ms", 60'000, 1}, {"a hundred every 700 ms", 700'000, 100}};
  for (const auto& c : cases) {
    LoopbackSocket bridge, repeater;
    ipsctest::start_ipsc_side(kKey, bridge.fd(), repeater.port());
    ASSERT_EQ(repeater.receive(1000).size(), 24u);  // registration at thread start
    const int64_t origin = fake_now_us;
    // The next wake-up, before anything arrives, is the keep-alive's turn.
    EXPECT_EQ(ipsc_next_wake_us(), origin + IPSC_KEEPALIVE_TURNS * IPSC_TURN_US) << c.traffic;
    std::vector<int64_t> keep_alives;
    int64_t next_traffic = c.every_us ? origin + c.every_us : WAIT_FOREVER;
    while (keep_alives.size() < 3) {
      // Datagrams a wake-up left in the queue wake the thread again at once.
      const int64_t wake = bridge.has_datagram(0) ? fake_now_us : std::min(next_traffic, ipsc_next_wake_us());
      ASSERT_GE(wake, fake_now_us) << c.traffic;
      fake_now_us = wake;
      if (wake == next_traffic) {
        for (int n = 0; n < c.at_once; ++n) repeater.send_to(bridge.port(), keep_alive_answer());
        ASSERT_TRUE(bridge.has_datagram(1000));
        next_traffic += c.every_us;
      }
      capture_stdout([] { ASSERT_EQ(ipsc_wake(), 1); });
      // Loopback hands a datagram over within the send: nothing is in flight.
      for (Bytes d = repeater.receive(0); !d.empty(); d = repeater.receive(0))
        if (d[0] == IPSC_KEEPALIVE_REQUEST) keep_alives.push_back(fake_now_us - origin);
    }
    EXPECT_EQ(keep_alives, (std::vector<int64_t>{5'080'000, 10'160'000, 15'240'000})) << c.traffic;
  }
}

TEST_F(ThreadWait, OverdueKeepAliveWakesAtOnceAndLateWakeUpsDoNotShiftTheRhythm) {
  LoopbackSocket bridge, repeater;
  ipsctest::start_ipsc_side(kKey, bridge.fd(), repeater.port());
  ASSERT_EQ(repeater.receive(1000).size(), 24u);
  const int64_t origin = fake_now_us;
  // The thread woke 3 s after the keep-alive's turn (a stalled board): the
  // pair goes out then, and the next one in the rhythm of the turns counted
  // from then on, as the old loop counted them.
  fake_now_us = origin + 8'080'000;
  capture_stdout([] { ipsc_wake(); });
  EXPECT_EQ(repeater.drain_from(bridge.port(), 4).size(), 2u);  // registration again and the keep-alive
  EXPECT_EQ(ipsc_next_wake_us(), origin + (1590 + 1000) * IPSC_TURN_US);
  // One turn short of it nothing goes out.
  fake_now_us = ipsc_next_wake_us() - 1;
  capture_stdout([] { ipsc_wake(); });
  EXPECT_TRUE(repeater.drain_from(bridge.port(), 4).empty());
}

TEST_F(ThreadWait, RdacWakesForLoginAndAnswerAndKeepsItsSchedule) {
  const struct {
    const char* when;
    int answer_in_sleep;  // the master answers during this 6 s sleep (0: never)
    bool answer_before;   // ... or before the login
    size_t pairs;
  } cases[] = {{"no answer", 0, false, 4},
               {"answer before the login", 0, true, 4},
               {"answer in the first sleep", 1, false, 1},
               {"answer in the third sleep", 3, false, 3},
               {"answer in the last sleep", 4, false, 4}};
  for (const auto& c : cases) {
    LoopbackSocket master, audio, rdac;
    snprintf(MasterIP, sizeof MasterIP, "127.0.0.1");
    rdac_master_port = master.port();
    Local_Repeater_audio_srv_sock = audio.fd();
    fcntl(rdac.fd(), F_SETFL, O_NONBLOCK);
    Local_Repeater_rdac_srv_sock = rdac.fd();
    Start_rdac_signal = wake_signal_open();
    master_online = 0;
    master_timer = 0;
    motorola_repeater_online = 20;
    Start_rdac = 0;
    static const LoopbackSocket* answering_master;
    static const LoopbackSocket* rdac_port;
    static int answer_in, sleeps;
    answering_master = &master;
    rdac_port = &rdac;
    answer_in = c.answer_in_sleep;
    sleeps = 0;
    auto sleeper = [](unsigned seconds) {
      EXPECT_EQ(seconds, 6u);
      if (++sleeps == answer_in) answering_master->send_to(rdac_port->port(), Bytes(RDAC_ANSWER_LENGTH, 1));
    };
    if (c.answer_before) {
      master.send_to(rdac.port(), Bytes(RDAC_ANSWER_LENGTH, 1));
      ASSERT_TRUE(rdac.has_datagram(1000));
      // Taken at once; not logged in yet, so nothing to end.
      EXPECT_EQ(capture_stdout([&] { rdac_step(sleeper); }), "") << c.when;
    }
    capture_stdout([] { supervision_turn(); });  // the login raises the signal
    EXPECT_EQ(master_online, 1);
    std::string log = capture_stdout([&] {
      for (int step = 0; step < 6 && (Start_rdac > 0 || wait_until(rdac.fd(), Start_rdac_signal, 0)); ++step)
        rdac_step(sleeper);
    });
    EXPECT_EQ(master.drain_from(audio.port(), 16).size(), 2 * c.pairs) << c.when;
    EXPECT_EQ(Start_rdac, 0) << c.when;
    EXPECT_FALSE(wait_until(rdac.fd(), Start_rdac_signal, 0)) << c.when << ": nothing left to wake for";
    close(Start_rdac_signal);
    Start_rdac_signal = -1;
    Local_Repeater_audio_srv_sock = Local_Repeater_rdac_srv_sock = -1;
    master_online = 0;
  }
}

int64_t fake_drop_ms = 0;
int64_t fake_drop_clock() { return fake_drop_ms; }

TEST_F(ThreadWait, AThreadWakesForItsPortsDropSummaryWhenItIsSooner) {
  int64_t (*saved)() = drop_report_clock_ms;
  drop_report_clock_ms = fake_drop_clock;
  reset_drop_reports();
  fake_drop_ms = 500'000;
  constexpr int kPort = 62005;
  const int64_t later = fake_now_us + 90'000'000, sooner = fake_now_us + 30'000'000;
  // Nothing dropped: nothing to wake for.
  EXPECT_EQ(with_drop_summary(WAIT_FOREVER, kPort), WAIT_FOREVER);
  sockaddr_in stranger{};
  stranger.sin_family = AF_INET;
  stranger.sin_addr.s_addr = htonl(0xC0000204);
  // The first drop has its line; the second is left for the minute's summary.
  capture_stdout([&] { report_drop(stranger, kPort, DropReason::kNotNetworkMaster); });
  EXPECT_EQ(with_drop_summary(WAIT_FOREVER, kPort), WAIT_FOREVER);
  capture_stdout([&] { report_drop(stranger, kPort, DropReason::kNotNetworkMaster); });
  // It falls due 60 s after the first drop, on either clock.
  const int64_t due = fake_now_us + DROP_SUMMARY_INTERVAL_MS * 1000;
  EXPECT_EQ(with_drop_summary(WAIT_FOREVER, kPort), due);
  EXPECT_EQ(with_drop_summary(later, kPort), due);
  EXPECT_EQ(with_drop_summary(sooner, kPort), sooner);
  EXPECT_EQ(with_drop_summary(later, kPort + 1), later) << "another port's drops";
  // Once printed, nothing is due any more.
  fake_drop_ms += DROP_SUMMARY_INTERVAL_MS;
  capture_stdout([&] { flush_drop_summary(kPort); });
  EXPECT_EQ(with_drop_summary(later, kPort), later);
  reset_drop_reports();
  drop_report_clock_ms = saved;
}

TEST(WaitUntil, ReturnsForADatagramASignalOrThePassedDeadlineOnly) {
  LoopbackSocket sock, peer;
  const int signal = wake_signal_open();
  ASSERT_GE(signal, 0);
  const int64_t past = monotonic_us() - 1;
  EXPECT_FALSE(wait_until(sock.fd(), signal, past));
  EXPECT_FALSE(wait_until(-1, -1, past));
  wake_signal_raise(signal);
  wake_signal_raise(signal);
  EXPECT_TRUE(wait_until(sock.fd(), signal, past));
  wake_signal_clear(signal);
  EXPECT_FALSE(wait_until(sock.fd(), signal, past)) << "one clear takes every raise";
  peer.send_to(sock.port(), Bytes{1});
  ASSERT_TRUE(sock.has_datagram(1000));
  EXPECT_TRUE(wait_until(sock.fd(), -1, past));
  wake_signal_raise(-1);  // an unopened signal is harmless
  wake_signal_clear(-1);
  close(signal);
}

}  // namespace
