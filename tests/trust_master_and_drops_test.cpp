// Traffic on the network-master ports counts only from MasterIP, and what is
// dropped is told without flooding the log: a line for a sender's first
// drop (at most five a minute per port), then one summary a minute.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "master_link/rdac.h"
#include "support/test_support.h"

namespace {

int64_t fake_ms = 0;
int64_t fake_clock() { return fake_ms; }

// Each log line without its 24-character time and the blank after it.
std::vector<std::string> lines_of(const std::string& out) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end; (end = out.find('\n', from)) != std::string::npos; from = end + 1)
    lines.push_back(out.substr(from + 25, end - from - 25));
  return lines;
}

class TrustDrops : public ::testing::Test {
 protected:
  void SetUp() override {
    strcpy(MasterIP, "192.0.2.2");
    fake_ms = 1000000;
    drop_report_clock_ms = fake_clock;
    reset_drop_reports();
  }
  void TearDown() override {
    reset_drop_reports();
    strcpy(MasterIP, "127.0.0.1");
  }
};

TEST_F(TrustDrops, OnlyTheMastersAddressIsAcceptedWhateverItsPort) {
  const struct {
    const char* ip;
    int port;
    bool accepted;
  } cases[] = {{"192.0.2.2", 62006, true},  {"192.0.2.2", 1, true},       {"192.0.2.2", 40000, true},
               {"192.0.2.3", 62006, false}, {"192.0.2.22", 62006, false}, {"192.0.3.2", 62006, false},
               {"127.0.0.1", 62006, false}, {"0.0.0.0", 0, false}};
  for (int local_port : {LISTEN_REPEATER_AUDIO_PORT, LISTEN_REPEATER_rdac_PORT}) {
    for (const auto& c : cases) {
      bool accepted = false;
      const std::string out =
          capture_stdout([&] { accepted = accept_from_master(ipv4_address(c.ip, c.port), local_port); });
      EXPECT_EQ(accepted, c.accepted) << c.ip << ":" << c.port;
      if (c.accepted) {
        EXPECT_EQ(out, "");
      } else {
        EXPECT_EQ(lines_of(out),
                  std::vector<std::string>{"Dropped datagram from " + std::string(c.ip) + ":" + std::to_string(c.port) +
                                           " on port " + std::to_string(local_port) + ": not the network master"});
      }
    }
  }
  // A changed MasterIP is followed at once.
  strcpy(MasterIP, "192.0.2.3");
  EXPECT_TRUE(is_network_master(ipv4_address("192.0.2.3", 5)));
  EXPECT_FALSE(is_network_master(ipv4_address("192.0.2.2", 62006)));
}

TEST_F(TrustDrops, FirstDropPerSenderThenOneSummaryAMinute) {
  std::string out = capture_stdout([] {
    for (int i = 0; i < 3; ++i) report_drop(ipv4_address("192.0.2.3", 4000 + i), 50000, DropReason::kBadSignature);
    report_drop(ipv4_address("192.0.2.4", 7), 50000, DropReason::kBadSignature);
  });
  EXPECT_EQ(lines_of(out),
            (std::vector<std::string>{"Dropped datagram from 192.0.2.3:4000 on port 50000: bad signature",
                                      "Dropped datagram from 192.0.2.4:7 on port 50000: bad signature"}));
  // Not before the minute is over, then once.
  fake_ms += DROP_SUMMARY_INTERVAL_MS - 1;
  EXPECT_EQ(capture_stdout([] { flush_drop_summary(50000); }), "");
  fake_ms += 1;
  out = capture_stdout([] {
    flush_drop_summary(50000);
    flush_drop_summary(50000);
  });
  EXPECT_EQ(lines_of(out),
            std::vector<std::string>{
                "Dropped on port 50000 in the last minute: 4 datagrams from 2 senders, most from 192.0.2.3 (3)"});
  // A sender already named gets no second line; a minute of only first lines gets no summary.
  out = capture_stdout([] {
    report_drop(ipv4_address("192.0.2.3", 1), 50000, DropReason::kBadSignature);
    report_drop(ipv4_address("192.0.2.5", 1), 50000, DropReason::kBadSignature);
  });
  EXPECT_EQ(lines_of(out), std::vector<std::string>{"Dropped datagram from 192.0.2.5:1 on port 50000: bad signature"});
  fake_ms += DROP_SUMMARY_INTERVAL_MS;
  EXPECT_EQ(lines_of(capture_stdout([] { flush_drop_summary(50000); })),
            std::vector<std::string>{
                "Dropped on port 50000 in the last minute: 2 datagrams from 2 senders, most from 192.0.2.3 (1)"});
  fake_ms += DROP_SUMMARY_INTERVAL_MS;
  report_drop(ipv4_address("192.0.2.6", 1), 50000, DropReason::kBadSignature);
  fake_ms += DROP_SUMMARY_INTERVAL_MS;
  EXPECT_EQ(capture_stdout([] { flush_drop_summary(50000); }), "");
  // Ports keep their own counts.
  EXPECT_EQ(capture_stdout([] { flush_drop_summary(62006); }), "");
}

TEST_F(TrustDrops, AFloodFromThousandsOfSendersStaysAtAFewLinesAMinute) {
  // Three minutes of 2000 datagrams a second from 4000 addresses, on two ports.
  std::string out = capture_stdout([] {
    for (int second = 0; second < 180; ++second) {
      for (int i = 0; i < 2000; ++i) {
        const uint32_t host = static_cast<uint32_t>((second * 2000 + i) % 4000);
        sockaddr_in from = ipv4_address("10.0.0.0", 1000 + i);
        from.sin_addr.s_addr = htonl(0x0A000000u + host);
        accept_from_master(from, LISTEN_REPEATER_AUDIO_PORT);
        report_drop(from, 50000, DropReason::kBadSignature);
      }
      fake_ms += 1000;
      flush_drop_summary(LISTEN_REPEATER_AUDIO_PORT);
      flush_drop_summary(50000);
    }
  });
  const std::vector<std::string> lines = lines_of(out);
  // Per port and minute: five first lines and one summary.
  EXPECT_EQ(lines.size(), 2u * 3u * (DROP_LINES_PER_MINUTE + 1)) << out;
  EXPECT_NE(
      std::find(
          lines.begin(), lines.end(),
          "Dropped on port 62006 in the last minute: 120000 datagrams from 4000 senders, most from 10.0.0.0 (30)"),
      lines.end())
      << out;
}

// The summary names the sender that sent the most, and it is due when the
// minute ends: a thread that blocks in its receive asks when, and prints it
// then without waiting for another datagram.
TEST_F(TrustDrops, TheSummaryNamesTheBusiestSenderAndFallsDueAtTheMinutesEnd) {
  const int port = 50000;
  const int64_t start = fake_ms;
  EXPECT_EQ(drop_summary_due_ms(port), NO_DROP_SUMMARY_DUE);
  capture_stdout([] { report_drop(ipv4_address("192.0.2.3", 1), port, DropReason::kBadSignature); });
  EXPECT_EQ(drop_summary_due_ms(port), NO_DROP_SUMMARY_DUE) << "the first drop had its line: nothing to sum up";
  capture_stdout([] {
    for (int i = 0; i < 3; ++i) report_drop(ipv4_address("192.0.2.4", 10 + i), port, DropReason::kTooLong);
    for (int i = 0; i < 5; ++i) report_drop(ipv4_address("192.0.2.5", 20 + i), port, DropReason::kReflected);
  });
  EXPECT_EQ(drop_summary_due_ms(port), start + DROP_SUMMARY_INTERVAL_MS);
  const struct {
    int64_t at;
    const char* line;
  } flushes[] = {
      {start + DROP_SUMMARY_INTERVAL_MS - 1, nullptr},
      {start + DROP_SUMMARY_INTERVAL_MS,
       "Dropped on port 50000 in the last minute: 9 datagrams from 3 senders, most from 192.0.2.5 (5)"},
      {start + 2 * DROP_SUMMARY_INTERVAL_MS, nullptr},
  };
  for (const auto& f : flushes) {
    fake_ms = f.at;
    const std::vector<std::string> lines = lines_of(capture_stdout([] { flush_drop_summary(port); }));
    EXPECT_EQ(lines, f.line ? std::vector<std::string>{f.line} : std::vector<std::string>{}) << f.at - start;
  }
  EXPECT_EQ(drop_summary_due_ms(port), NO_DROP_SUMMARY_DUE);
}

// The RDAC port on loopback: the master's answer ends the schedule, the same
// answer from another address does not, and a flood ahead of the master's
// answer does not bury it.
TEST_F(TrustDrops, RdacAnswerCountsOnlyFromTheMaster) {
  strcpy(MasterIP, "127.0.0.1");
  LoopbackSocket rdac;
  fcntl(rdac.fd(), F_SETFL, O_NONBLOCK);
  Local_Repeater_rdac_srv_sock = rdac.fd();
  Local_Repeater_audio_srv_sock = -1;
  master_online = 1;
  Start_rdac = 0;

  // A sender on 127.0.0.2 is another host as far as the check goes.
  const int stranger = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in bound = ipv4_address("127.0.0.2", 0);
  ASSERT_EQ(bind(stranger, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
  const sockaddr_in to = ipv4_address("127.0.0.1", rdac.port());
  const std::vector<unsigned char> answer(24, 0x5a);
  auto from_stranger = [&](int count) {
    for (int i = 0; i < count; ++i)
      sendto(stranger, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  };
  auto turn = [] { return capture_stdout([] { rdac_turn([](unsigned) {}); }); };

  sockaddr_in stranger_address{};
  socklen_t length = sizeof stranger_address;
  getsockname(stranger, reinterpret_cast<sockaddr*>(&stranger_address), &length);
  const std::string drop_line = "Dropped datagram from 127.0.0.2:" + std::to_string(ntohs(stranger_address.sin_port)) +
                                " on port 62007: not the network master";

  from_stranger(1);
  ASSERT_TRUE(rdac.has_datagram(1000));
  EXPECT_EQ(lines_of(turn()), std::vector<std::string>{drop_line});
  EXPECT_FALSE(rdac.has_datagram(0));

  // A stranger's flood, then the master's answer: taken in the same turn.
  from_stranger(200);
  LoopbackSocket master;
  master.send_to(rdac.port(), answer);
  ASSERT_TRUE(rdac.has_datagram(1000));
  usleep(20000);
  EXPECT_EQ(turn(), "Local_Repeater_rdac \n");
  EXPECT_FALSE(rdac.has_datagram(0));
  sockaddr_in last = fromRepeater_rdac_srv;
  EXPECT_EQ(last.sin_port, master.address().sin_port);

  close(stranger);
  Local_Repeater_rdac_srv_sock = -1;
  master_online = 0;
}

}  // namespace
