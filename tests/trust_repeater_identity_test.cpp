// A signed datagram may be a recorded one sent again. Only the repeater's
// own (its address, any source port, and its peer identifier) moves the
// voice destination; the bridge's own datagrams sent back are dropped; and a
// keep-alive reply shows the repeater alive once per request.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ipsc/ipsc_peer.h"
#include "ipsc/packet_sign.h"
#include "main/byte_order.h"
#include "main/repeater_address.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "support/ipsc_side.h"
#include "support/test_support.h"

namespace {

const unsigned char kKey[20] = {0x51, 0x0e, 0x7a, 0x22, 0x93, 0x4d, 0x16, 0xc8, 0x3b, 0xf0,
                                0x65, 0x0a, 0xd7, 0x2c, 0x81, 0x5f, 0x34, 0x99, 0xe2, 0x47};
constexpr uint32_t kRepeaterId = 0x00012345;
constexpr uint32_t kOtherPeerId = 0x00300001;
constexpr uint32_t kOurId = 0x00040356;  // what start_ipsc_side makes MyBridgeID

class RepeaterIdentity : public ipsctest::RepeaterSide<kKey> {
 protected:
  // A datagram signed under the network key, handed to the turn as if
  // received from `from`; returns what the turn printed.
  static std::string offer(const sockaddr_in& from, unsigned char opcode, uint32_t peer, int length) {
    memset(sendBuffer, 0, sizeof sendBuffer);
    sendBuffer[0] = opcode;
    put_be32(sendBuffer + 1, peer);
    sign_ipsc_packet(sendBuffer, static_cast<unsigned>(length) - IPSC_TRAILER_LEN);
    return capture_stdout([&] { ipsc_handle_datagram(length, from); });
  }
  static std::string keep_alive_step() {
    return capture_stdout([] {
      for (int turn = 0; turn < IPSC_KEEPALIVE_TURNS; ++turn) ipsc_turn();
    });
  }
};

TEST_F(RepeaterIdentity, OnlyTheRepeatersOwnDatagramsMoveTheVoiceDestination) {
  const int rptr = repeater_.port();
  const struct {
    const char* what;
    sockaddr_in from;
    unsigned char opcode;
    uint32_t peer;
    int length;
    bool moves;
    const char* drop;  // reason in the drop line, or nullptr for none
  } steps[] = {
      {"another host, before the repeater is known", ipv4_address("127.0.0.2", rptr), 0x80, kRepeaterId, 62, false,
       nullptr},
      {"the repeater's address, before its ID is known", ipv4_address("127.0.0.1", 40001), 0x80, kOtherPeerId, 62, true,
       nullptr},
      {"registration reply from another host", ipv4_address("127.0.0.2", rptr), 0x91, kOtherPeerId, 26, false, nullptr},
      {"registration reply names the repeater", ipv4_address("127.0.0.1", rptr), 0x91, kRepeaterId, 26, true, nullptr},
      {"the repeater's address, another peer ID", ipv4_address("127.0.0.1", 40002), 0x80, kOtherPeerId, 62, false,
       nullptr},
      {"the repeater from another port (NAT)", ipv4_address("127.0.0.1", 40003), 0x80, kRepeaterId, 62, true, nullptr},
      {"the repeater's datagram replayed elsewhere", ipv4_address("127.0.0.2", 40004), 0x80, kRepeaterId, 62, false,
       nullptr},
      {"our own keep-alive sent back", ipv4_address("127.0.0.2", 40005), 0x96, kOurId, 24, false, "reflected"},
      {"our own voice from the repeater's address", ipv4_address("127.0.0.1", rptr), 0x80, kOurId, 62, false,
       "reflected"},
      {"the repeater again", ipv4_address("127.0.0.1", rptr), 0x80, kRepeaterId, 62, true, nullptr},
  };
  sockaddr_in expected{};
  bool known = false;
  for (const auto& s : steps) {
    const std::string out = offer(s.from, s.opcode, s.peer, s.length);
    if (s.moves) {
      expected = s.from;
      known = true;
    }
    sockaddr_in now{};
    ASSERT_EQ(get_fromUser2(&now), known) << s.what;
    if (known) {
      EXPECT_EQ(now.sin_addr.s_addr, expected.sin_addr.s_addr) << s.what;
      EXPECT_EQ(now.sin_port, expected.sin_port) << s.what;
    }
    EXPECT_EQ(out.find(" Dropped datagram from ") != std::string::npos, s.drop != nullptr) << s.what << "\n" << out;
    if (s.drop) {
      EXPECT_NE(out.find(std::string(": ") + s.drop + "\n"), std::string::npos) << s.what << "\n" << out;
    }
  }
  // Only the repeater's own address drew the peer-list request.
  EXPECT_EQ(repeater_.drain_from(bridge_.port(), 4).size(), 1u);
}

TEST_F(RepeaterIdentity, AnotherPeersRequestIsAnsweredThereAndLeavesTheDestination) {
  offer(repeater_.address(), 0x91, kRepeaterId, 26);
  LoopbackSocket other_peer;
  for (unsigned char request : {0x94, 0x98}) {
    offer(other_peer.address(), request, kOtherPeerId, 20);
    EXPECT_EQ(other_peer.receive(1000).size(), request == 0x94 ? 19u : 20u) << int(request);
    sockaddr_in destination{};
    ASSERT_TRUE(get_fromUser2(&destination));
    EXPECT_EQ(destination.sin_port, repeater_.address().sin_port) << int(request);
  }
}

TEST_F(RepeaterIdentity, AKeepAliveReplyShowsTheRepeaterAliveOncePerRequest) {
  const sockaddr_in repeater = repeater_.address(), elsewhere = ipv4_address("127.0.0.2", repeater_.port());
  const sockaddr_in nat_port = ipv4_address("127.0.0.1", 40009);  // the repeater's address, another source port
  offer(repeater, 0x91, kRepeaterId, 26);
  const struct {
    const char* what;
    bool step_first;  // a keep-alive request goes out before the reply
    sockaddr_in from;
    uint32_t peer;
    bool alive;
  } replies[] = {
      {"answer to the registration request", false, repeater, kRepeaterId, true},
      {"a second with nothing outstanding", false, nat_port, kRepeaterId, false},
      {"from another host", true, elsewhere, kRepeaterId, false},
      {"under another peer ID", false, repeater, kOtherPeerId, false},
      {"answer after one duplicate (the network's)", false, nat_port, kRepeaterId, true},
      {"several a second: the first", true, repeater, kRepeaterId, true},
      {"several a second: the next", false, nat_port, kRepeaterId, false},
      {"several a second: and the next", false, nat_port, kRepeaterId, false},
      {"several a second: after the request", true, nat_port, kRepeaterId, false},
      {"several a second: again", false, nat_port, kRepeaterId, false},
      {"several a second: and again", false, nat_port, kRepeaterId, false},
      {"the first answer after the copies", true, nat_port, kRepeaterId, false},
      {"an interval without copies, then the answer", true, repeater, kRepeaterId, true},
  };
  sockaddr_in destination = repeater;
  for (const auto& r : replies) {
    if (r.step_first) keep_alive_step();
    motorola_repeater_online = 0;
    offer(r.from, 0x97, r.peer, 24);
    EXPECT_EQ(motorola_repeater_online, r.alive ? 20 : 0) << r.what;
    // Only a reply that shows the repeater alive moves the voice destination.
    if (r.alive) destination = r.from;
    sockaddr_in now{};
    ASSERT_TRUE(get_fromUser2(&now));
    EXPECT_EQ(now.sin_port, destination.sin_port) << r.what;
  }
}

}  // namespace
