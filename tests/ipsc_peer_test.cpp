#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fcntl.h>

#include <cstring>
#include <string>
#include <vector>

#include "ipsc/control_packets.h"
#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "support/ipsc_side.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char kKey[20] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x12, 0x34,
                                0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x12, 0x34, 0x56, 0x78};

Bytes hmac10(const unsigned char* data, size_t n) {
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), kKey, sizeof kKey, data, n, digest, &len);
  return Bytes(digest, digest + 10);
}

// True when the last 10 bytes are the signature of everything before them.
bool signed_ok(const Bytes& d) {
  if (d.size() < 10) return false;
  return Bytes(d.end() - 10, d.end()) == hmac10(d.data(), d.size() - 10);
}

class IpscPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ipsctest::start_ipsc_side(kKey, bridge_.fd(), repeater_.port());
    Bytes registration = repeater_.receive(1000);
    ASSERT_EQ(registration.size(), 24u);
  }

  void TearDown() override { Quorvix_sock = -1; }

  // Delivers one datagram from `from` to the bridge and runs one turn. Its
  // last 10 bytes become the signature trailer, as every IPSC peer sends it.
  std::string deliver(const LoopbackSocket& from, Bytes datagram, int* result = nullptr) {
    if (datagram.size() > 10) {
      const Bytes trailer = hmac10(datagram.data(), datagram.size() - 10);
      std::copy(trailer.begin(), trailer.end(), datagram.end() - 10);
    }
    from.send_to(bridge_.port(), datagram);
    EXPECT_TRUE(bridge_.has_datagram(1000));
    int r = 0;
    std::string out = capture_stdout([&] { r = ipsc_turn(); });
    if (result) *result = r;
    return out;
  }

  static Bytes packet(unsigned char opcode, size_t length) {
    Bytes p(length, 0);
    p[0] = opcode;
    p[1] = 0x00;
    p[2] = 0x00;
    p[3] = 0x30;
    p[4] = 0x39;  // peer 12345
    return p;
  }

  LoopbackSocket bridge_;
  LoopbackSocket repeater_;
};

TEST_F(IpscPeerTest, ControlPacketsCarryOurIdentityAndSignature) {
  const struct {
    const unsigned char* bytes;
    size_t size;
    unsigned char opcode;
  } packets[] = {{start, sizeof start, 0x90},
                 {start2, sizeof start2, 0x92},
                 {start_hb, sizeof start_hb, 0x96},
                 {peer_95, sizeof peer_95, 0x95},
                 {peer_99, sizeof peer_99, 0x99}};
  for (const auto& p : packets) {
    Bytes b(p.bytes, p.bytes + p.size);
    EXPECT_EQ(b[0], p.opcode);
    EXPECT_EQ(Bytes(b.begin() + 1, b.begin() + 5), Bytes({0x00, 0x04, 0x03, 0x56}));
    EXPECT_TRUE(signed_ok(b)) << std::hex << int(p.opcode);
  }
  EXPECT_EQ(Bytes(start + 5, start + 14), Bytes({0x62, 0, 0, 0x80, 0x5C, 4, 3, 4, 0}));
  EXPECT_EQ(Bytes(start_hb + 5, start_hb + 14), Bytes({0x62, 0, 0, 0x80, 0x5C, 4, 3, 4, 0}));
  EXPECT_EQ(Bytes(peer_99 + 5, peer_99 + 10), Bytes({0x62, 0, 0, 0xE0, 0x1C}));
  EXPECT_EQ(Bytes(peer_95 + 5, peer_95 + 9), Bytes({4, 4, 4, 0}));
}

TEST_F(IpscPeerTest, RegistrationReplyOfAnyOpcodeIsFollowedByPeerListRequest) {
  for (unsigned char opcode : {0x91, 0x96, 0x97, 0x00}) {
    deliver(repeater_, packet(opcode, 26));
    Bytes sent = repeater_.receive(1000);
    EXPECT_EQ(sent, Bytes(start2, start2 + sizeof start2)) << int(opcode);
  }
  deliver(repeater_, packet(0x91, 25));
  EXPECT_FALSE(repeater_.has_datagram(50));
}

TEST_F(IpscPeerTest, OnlyKeepAliveRepliesLongerThan16BytesRefreshTheLink) {
  deliver(repeater_, packet(0x97, 16));
  EXPECT_EQ(motorola_repeater_online, 0);
  deliver(repeater_, packet(0x97, 17));
  EXPECT_EQ(motorola_repeater_online, 20);
}

TEST_F(IpscPeerTest, KeepAliveRequestFromMasterIsLoggedNotAnswered) {
  std::string out = deliver(repeater_, packet(0x96, 24));
  EXPECT_EQ(out, "Master keep alive request from master\nLen 24\n");
  EXPECT_FALSE(repeater_.has_datagram(50));
}

TEST_F(IpscPeerTest, PeerListIsPrintedAndLimited) {
  Bytes two = packet(0x93, 7 + 22 + 10);
  two[6] = 22;
  const unsigned char entry1[11] = {0, 0, 0x30, 0x3A, 127, 0, 0, 1, 0xC3, 0x50, 0};
  const unsigned char entry2[11] = {0, 1, 0, 0, 192, 0, 2, 7, 0x0F, 0xA0, 0};
  memcpy(&two[7], entry1, 11);
  memcpy(&two[18], entry2, 11);
  int result = -1;
  std::string out = deliver(repeater_, two, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out,
            "len master peer 39\nMaster peer list reply\nLen 39\nSRC-ID:12345\n"
            "PEER1-ID:12346\nPEER1-IP = 127.0.0.1 \nPEER1-Port = 50000\n\n"
            "PEER2-ID:65536\nPEER2-IP = 192.0.2.7 \nPEER2-Port = 4000\n\n");

  Bytes none = packet(0x93, 20);
  none[6] = 10;
  out = deliver(repeater_, none, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out.find("PEER1"), std::string::npos);

  Bytes three = packet(0x93, 7 + 33 + 10);
  three[6] = 33;
  for (int n = 0; n < 3; ++n) memcpy(&three[7 + 11 * n], entry1, 11);
  // Only the repeater keeps the peer list: anybody else's is ignored.
  LoopbackSocket stranger;
  out = deliver(stranger, three, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "");
  out = deliver(repeater_, three, &result);
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("PEER3-Port = 50000\n\n"), std::string::npos);
  EXPECT_NE(out.find("\nTOO MANY PEERS IN NETWORK! (3)\nProgram stopped.\n"), std::string::npos);
}

TEST_F(IpscPeerTest, PeerListEntriesBeyondTheDatagramAreNotPrinted) {
  Bytes truncated = packet(0x93, 7 + 11 + 10);
  truncated[6] = 33;  // claims three entries, carries one (and the trailer)
  int result = -1;
  std::string out = deliver(repeater_, truncated, &result);
  EXPECT_EQ(result, 0);  // the limit still counts what the list claims
  EXPECT_NE(out.find("PEER1-ID"), std::string::npos);
  EXPECT_EQ(out.find("PEER2-ID"), std::string::npos);
}

TEST_F(IpscPeerTest, OtherPeersAreAnsweredAtTheirOwnAddress) {
  LoopbackSocket other_peer;
  std::string out = deliver(other_peer, packet(0x94, 20));
  EXPECT_EQ(out, "Login PEER-ID:12345 from IP:127.0.0.1\n");
  EXPECT_EQ(other_peer.receive(1000), Bytes(peer_95, peer_95 + sizeof peer_95));
  out = deliver(other_peer, packet(0x98, 20));
  EXPECT_EQ(out, "Send 99 PEER-ID:12345 IP:127.0.0.1\n");
  EXPECT_EQ(other_peer.receive(1000), Bytes(peer_99, peer_99 + sizeof peer_99));
  EXPECT_FALSE(repeater_.has_datagram(50));
  sockaddr_in last{};
  ASSERT_TRUE(get_fromUser2(&last));
  EXPECT_EQ(last.sin_port, other_peer.address().sin_port);
}

TEST_F(IpscPeerTest, KeepAliveGoesOutEvery1000Turns) {
  deliver(repeater_, packet(0x91, 26));
  ASSERT_EQ(repeater_.receive(1000).size(), 15u);
  for (int first_turn : {2, 1}) {  // the reply's turn was the first of 1000
    for (int turn = first_turn; turn < 1000; ++turn) ASSERT_EQ(ipsc_turn(), 1);
    EXPECT_FALSE(repeater_.has_datagram(0));
    ASSERT_EQ(ipsc_turn(), 1);
    EXPECT_EQ(repeater_.receive(1000), Bytes(start_hb, start_hb + sizeof start_hb));
  }
}

// Opcodes of what one keep-alive step (1000 turns) sends to the repeater.
std::vector<int> keep_alive_step(const LoopbackSocket& repeater, const LoopbackSocket& bridge, std::string* log) {
  *log = capture_stdout([] {
    for (int turn = 0; turn < 1000; ++turn) ipsc_turn();
  });
  std::vector<int> opcodes;
  for (const Bytes& d : repeater.drain_from(bridge.port(), 4)) opcodes.push_back(d[0]);
  return opcodes;
}

TEST_F(IpscPeerTest, RegistrationIsRepeatedUntilTheRepeaterHasTakenIt) {
  const std::vector<int> registration_and_keep_alive = {0x90, 0x96};
  const std::vector<int> keep_alive = {0x96};
  const std::string retry_line =
      " Repeater not registered, send registration to IP:127.0.0.1 Port:" + std::to_string(repeater_.port()) + "\n";
  std::string log;
  // No reply since start: every step registers again, and says so.
  for (int step = 0; step < 2; ++step) {
    EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), registration_and_keep_alive);
    EXPECT_NE(log.find(retry_line), std::string::npos);
  }
  // The reply ends that, also before any keep-alive has been answered.
  deliver(repeater_, packet(0x91, 26));
  EXPECT_EQ(repeater_.receive(1000).size(), 15u);
  EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), keep_alive);
  EXPECT_EQ(log, "");
  // Keep-alives answered: registered while the answers keep coming.
  deliver(repeater_, packet(0x97, 24));
  EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), keep_alive);
  // The answers stopped for 20 s (main counted the link down to 0).
  motorola_repeater_online = 0;
  EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), registration_and_keep_alive);
  EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), registration_and_keep_alive);
  // A reply that no keep-alive answer follows holds for 20 s (four steps).
  deliver(repeater_, packet(0x91, 26));
  EXPECT_EQ(repeater_.receive(1000).size(), 15u);
  for (int step = 0; step < 4; ++step) EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), keep_alive) << step;
  EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), registration_and_keep_alive);
  deliver(repeater_, packet(0x91, 26));
  EXPECT_EQ(repeater_.receive(1000).size(), 15u);
  deliver(repeater_, packet(0x97, 24));
  motorola_repeater_online = 20;
  for (int step = 0; step < 6; ++step) EXPECT_EQ(keep_alive_step(repeater_, bridge_, &log), keep_alive) << step;
}

TEST_F(IpscPeerTest, NetworkKeepAliveOnlyWhileLoggedIn) {
  LoopbackSocket* master = nullptr;
  try {
    master = new LoopbackSocket(LISTEN_REPEATER_AUDIO_PORT);
  } catch (...) {
    GTEST_SKIP() << "port 62006 is in use";
  }
  LoopbackSocket audio;
  Local_Repeater_audio_srv_sock = audio.fd();
  for (int turn = 0; turn < 1000; ++turn) ipsc_turn();
  EXPECT_FALSE(master->has_datagram(50));
  master_online = 1;
  for (int turn = 0; turn < 1000; ++turn) ipsc_turn();
  EXPECT_EQ(master->receive(1000), Bytes{'A'});
  delete master;
  Local_Repeater_audio_srv_sock = -1;
}

TEST_F(IpscPeerTest, ClosedSocketDoesNoHarm) {
  Quorvix_sock = -1;
  for (int turn = 0; turn < 1001; ++turn) ASSERT_EQ(ipsc_turn(), 1);
  EXPECT_FALSE(repeater_.has_datagram(50));
}

}  // namespace
