#pragma once
// What start-up has done before the repeater-side thread runs, for tests
// that play the repeater on loopback: the key, our peer identifier
// 00 04 03 56, the signed control packets, both peers at 127.0.0.1, the
// bridge's own socket non-blocking as the daemon opens it; then the thread's
// start, which sends the registration request.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "ipsc/control_packets.h"
#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "support/test_support.h"

namespace ipsctest {

inline void start_ipsc_side(const unsigned char* key, int bridge_fd, int repeater_port) {
  memcpy(Key, key, sizeof Key);
  const unsigned char id[4] = {0x00, 0x04, 0x03, 0x56};
  memcpy(MyBridgeID, id, sizeof id);
  prepare_control_packets();
  strcpy(RptrIP, "127.0.0.1");
  strcpy(MasterIP, "127.0.0.1");
  RptrPort = repeater_port;
  Quorvix_sock = bridge_fd;
  fcntl(bridge_fd, F_SETFL, O_NONBLOCK);
  Local_Repeater_audio_srv_sock = -1;
  master_online = 0;
  motorola_repeater_online = 0;
  capture_stdout([] { ipsc_thread_start(); });
}

// A fixture with the repeater-side thread started under `key`, the test
// playing the repeater on loopback, and no drop reported yet.
template <const unsigned char* key>
class RepeaterSide : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_drop_reports();
    start_ipsc_side(key, bridge_.fd(), repeater_.port());
    ASSERT_EQ(repeater_.receive(1000).size(), 24u);
  }
  void TearDown() override { Quorvix_sock = -1; }

  LoopbackSocket bridge_;
  LoopbackSocket repeater_;
};

}  // namespace ipsctest
