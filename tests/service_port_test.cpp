#include "master_link/service_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "main/trusted_senders.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The test plays the network master writing to the service port.
class ServicePort : public ::testing::Test {
 protected:
  void SetUp() override {
    strcpy(MasterIP, "127.0.0.1");
    fcntl(port_.fd(), F_SETFL, O_NONBLOCK);
    Local_Repeater_srv_sock = port_.fd();
  }
  void TearDown() override { Local_Repeater_srv_sock = -1; }

  void deliver(const Bytes& datagram) {
    master_.send_to(port_.port(), datagram);
    ASSERT_TRUE(port_.has_datagram(1000));
  }
  static std::string turn() {
    return capture_stdout([] { service_port_turn(); });
  }

  LoopbackSocket port_;
  LoopbackSocket master_;
};

TEST_F(ServicePort, EmptyQueuePrintsNothing) { EXPECT_EQ(turn(), ""); }

TEST_F(ServicePort, ZeroLengthDatagramIsTakenSilently) {
  deliver({});
  EXPECT_EQ(turn(), "");
  EXPECT_FALSE(port_.has_datagram(0));
}

TEST_F(ServicePort, ThreeDatagramsGiveOneLinePerTurn) {
  deliver({0x01});
  deliver({0x02, 0x03});
  deliver(Bytes(100, 0x04));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(turn(), "Local_Repeater_rdac \n") << "turn " << i;
  EXPECT_EQ(turn(), "");
}

TEST_F(ServicePort, OversizedDatagramIsCutToTheBufferAndLoggedOnce) {
  Bytes big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  deliver(big);
  EXPECT_EQ(turn(), "Local_Repeater_rdac \n");
  EXPECT_EQ(Bytes(readBuffer, readBuffer + sizeof readBuffer),
            Bytes(big.begin(), big.begin() + SERVICE_PORT_RECEIVE_LIMIT));
  EXPECT_EQ(ntohs(fromRepeater_srv.sin_port), master_.port());
  EXPECT_EQ(turn(), "");
}

TEST_F(ServicePort, NothingIsEverAnswered) {
  for (const Bytes& d : {Bytes{}, Bytes{0x41}, Bytes(24, 0x7e), Bytes(224, 0xff)}) {
    deliver(d);
    turn();
  }
  EXPECT_FALSE(master_.has_datagram(50));
}

int64_t fake_ms = 0;
int64_t fake_clock() { return fake_ms; }

// Only the network master gets its line; anyone else goes into the bounded
// drop report, whose summary comes when the minute ends, with nothing more
// arriving.
TEST_F(ServicePort, OnlyTheMasterIsLoggedOthersAreDroppedWithTheBoundedReport) {
  fake_ms = 5000000;
  drop_report_clock_ms = fake_clock;
  reset_drop_reports();
  const LoopbackSocket stranger(0, "127.0.0.2");
  auto from_stranger = [&](int count) {
    for (int i = 0; i < count; ++i) stranger.send_to(port_.port(), {'x'});
  };
  const std::string drop_line =
      "Dropped datagram from 127.0.0.2:" + std::to_string(stranger.port()) + " on port 62005: not the network master\n";

  const struct {
    int from_stranger;
    bool from_master;
    int64_t advance_ms;
    std::string printed;  // without the time texts
  } turns[] = {
      {0, true, 0, "Local_Repeater_rdac \n"},
      {1, false, 0, drop_line},
      {200, true, 0, "Local_Repeater_rdac \n"},  // a flood ahead of the master's datagram costs no line
      {0, false, DROP_SUMMARY_INTERVAL_MS,
       "Dropped on port 62005 in the last minute: 201 datagrams from 1 senders, most from 127.0.0.2 (201)\n"},
      {0, false, DROP_SUMMARY_INTERVAL_MS, ""},
  };
  for (const auto& t : turns) {
    from_stranger(t.from_stranger);
    if (t.from_master) master_.send_to(port_.port(), {0x01});
    if (t.from_stranger || t.from_master) {
      ASSERT_TRUE(port_.has_datagram(1000));
      usleep(20000);
    }
    fake_ms += t.advance_ms;
    std::string out = turn();
    for (size_t at; (at = out.find(" Dropped ")) != std::string::npos;) out.erase(at - 24, 25);
    EXPECT_EQ(out, t.printed);
  }
  EXPECT_FALSE(port_.has_datagram(0));
  reset_drop_reports();
}

TEST_F(ServicePort, UnopenedSocketIsHarmless) {
  Local_Repeater_srv_sock = -1;
  EXPECT_EQ(turn(), "");
}

}  // namespace
