#include "master_link/service_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/sockets.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The test plays the network master writing to the service port.
class ServicePort : public ::testing::Test {
 protected:
  void SetUp() override {
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

TEST_F(ServicePort, UnopenedSocketIsHarmless) {
  Local_Repeater_srv_sock = -1;
  EXPECT_EQ(turn(), "");
}

}  // namespace
