// The repeater port acts only on datagrams whose last 10 bytes are the
// HMAC-SHA1 trailer of the bytes before them: the check itself, and what a
// datagram that fails it can no longer do.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fcntl.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ipsc/control_packets.h"
#include "ipsc/ipsc_peer.h"
#include "ipsc/packet_sign.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "support/ipsc_side.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char kKey[20] = {0x3c, 0x11, 0x5a, 0x90, 0x07, 0xee, 0x42, 0x18, 0x66, 0x2d,
                                0xb1, 0x70, 0x0f, 0x93, 0xc4, 0x5e, 0x21, 0xd8, 0x7b, 0xa6};

// Signs in place with OpenSSL: the last 10 bytes become the trailer.
Bytes signed_with(Bytes d, const unsigned char* key) {
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), key, 20, d.data(), d.size() - 10, digest, &len);
  memcpy(d.data() + d.size() - 10, digest, 10);
  return d;
}

Bytes random_datagram(std::mt19937& rng, size_t length) {
  Bytes d(length);
  for (auto& b : d) b = static_cast<unsigned char>(rng());
  return d;
}

TEST(TrustTrailer, ValidTrailerPassesAndEverySingleBitChangeFails) {
  std::mt19937 rng(7);
  for (size_t length : {11u, 24u, 26u, 65u, 74u, 76u, 224u}) {
    const Bytes good = signed_with(random_datagram(rng, length), kKey);
    ASSERT_TRUE(ipsc_trailer_valid(good.data(), good.size(), kKey, 20)) << length;
    for (size_t bit = 0; bit < 8 * length; ++bit) {
      Bytes bad = good;
      bad[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
      ASSERT_FALSE(ipsc_trailer_valid(bad.data(), bad.size(), kKey, 20)) << length << " bit " << bit;
    }
    unsigned char other_key[20];
    memcpy(other_key, kKey, 20);
    other_key[19] ^= 1;
    EXPECT_FALSE(ipsc_trailer_valid(good.data(), good.size(), other_key, 20)) << length;
  }
}

TEST(TrustTrailer, TenBytesOrFewerNeverPass) {
  // Ten bytes that are the trailer of the empty message are still no datagram.
  const Bytes of_nothing = signed_with(Bytes(10, 0), kKey);
  EXPECT_FALSE(ipsc_trailer_valid(of_nothing.data(), of_nothing.size(), kKey, 20));
  for (size_t length = 0; length < 10; ++length) {
    const Bytes d(length, 0);
    EXPECT_FALSE(ipsc_trailer_valid(d.data(), d.size(), kKey, 20)) << length;
  }
}

TEST(TrustTrailer, SignerAndCheckerAgreeUnderTheConfiguredKey) {
  memcpy(Key, kKey, sizeof Key);
  std::mt19937 rng(8);
  for (unsigned n : {1u, 14u, 57u, 66u, 200u}) {
    Bytes d = random_datagram(rng, n + 10);
    sign_ipsc_packet(d.data(), n);
    EXPECT_TRUE(ipsc_trailer_valid(d.data(), d.size())) << n;
    EXPECT_EQ(d, signed_with(d, kKey)) << n;
  }
}

// The Motorola-side thread with the test playing the repeater and a forger,
// both on loopback.
class TrustIpscPort : public ipsctest::RepeaterSide<kKey> {
 protected:
  std::string turn(int* result = nullptr) {
    int r = 0;
    std::string out = capture_stdout([&] { r = ipsc_turn(); });
    if (result) *result = r;
    return out;
  }

  static Bytes packet(unsigned char opcode, size_t length) {
    Bytes p(length, 0);
    p[0] = opcode;
    p[4] = 0x39;
    return p;
  }

  std::string drop_line(const LoopbackSocket& from) const {
    return " Dropped datagram from 127.0.0.1:" + std::to_string(from.port()) + " on port " +
           std::to_string(repeater_.port()) + ": bad signature\n";
  }

  LoopbackSocket forger_;
};

TEST_F(TrustIpscPort, UnsignedDatagramsDoNothingAndNameTheSenderOnce) {
  unsigned char wrong_key[20];
  memcpy(wrong_key, kKey, 20);
  wrong_key[0] ^= 0x80;
  Bytes three_peers = packet(0x93, 7 + 33 + 10);
  three_peers[6] = 33;
  const Bytes forged[] = {
      signed_with(packet(0x94, 20), wrong_key),  // peer registration request
      signed_with(packet(0x98, 20), wrong_key),  // peer keep-alive request
      signed_with(packet(0x91, 26), wrong_key),  // registration reply
      signed_with(packet(0x97, 24), wrong_key),  // keep-alive reply
      packet(0x97, 24),                          // no trailer at all
      Bytes(10, 0x97),                           // too short to carry one
      Bytes(),                                   // empty
  };
  sockaddr_in before{};
  ASSERT_FALSE(get_fromUser2(&before));
  std::string log;
  for (const Bytes& d : forged) {
    forger_.send_to(bridge_.port(), d);
    ASSERT_TRUE(bridge_.has_datagram(1000));
    log += turn();
  }
  forger_.send_to(bridge_.port(), three_peers);
  ASSERT_TRUE(bridge_.has_datagram(1000));
  int goes_on = 0;
  log += turn(&goes_on);

  EXPECT_EQ(goes_on, 1) << "a forged peer list stopped the thread";
  EXPECT_FALSE(forger_.has_datagram(50)) << "a forged request was answered";
  EXPECT_FALSE(repeater_.has_datagram(0)) << "a forged registration reply drew a peer-list request";
  EXPECT_EQ(motorola_repeater_online, 0);
  EXPECT_FALSE(get_fromUser2(&before)) << "a forged datagram named the sender of the last datagram";
  // One line for the forger, however many it sent.
  ASSERT_EQ(log.size(), 24 + drop_line(forger_).size()) << log;
  EXPECT_EQ(log.substr(24), drop_line(forger_));
}

TEST_F(TrustIpscPort, SignedDatagramsStillActAndAFloodDoesNotHoldThemBack) {
  Bytes two_peers = packet(0x93, 7 + 22 + 10);
  two_peers[6] = 22;
  for (int i = 0; i < 100; ++i) forger_.send_to(bridge_.port(), packet(0x97, 24));
  repeater_.send_to(bridge_.port(), signed_with(two_peers, kKey));
  ASSERT_TRUE(bridge_.has_datagram(1000));
  const std::string out = turn();
  EXPECT_NE(out.find("Master peer list reply\nLen 39\n"), std::string::npos) << out;
  EXPECT_NE(out.find(drop_line(forger_)), std::string::npos) << out;
  sockaddr_in last{};
  ASSERT_TRUE(get_fromUser2(&last));
  EXPECT_EQ(last.sin_port, repeater_.address().sin_port);

  repeater_.send_to(bridge_.port(), signed_with(packet(0x97, 17), kKey));
  ASSERT_TRUE(bridge_.has_datagram(1000));
  turn();
  EXPECT_EQ(motorola_repeater_online, 20);
}

// A datagram longer than the receive buffer cannot be checked: it is
// reported as too long, and its trailer is never looked for past the buffer
// (where a check would find a wrong signature, or worse).
TEST_F(TrustIpscPort, DatagramLongerThanTheBufferIsTooLongAndNeverChecked) {
  const struct {
    size_t length;
    bool taken;
  } cases[] = {{IPSC_RECEIVE_LIMIT, true}, {IPSC_RECEIVE_LIMIT + 1u, false}, {400u, false}};
  for (const auto& c : cases) {
    Bytes d = packet(0x91, c.length);
    d[25] = 0x5a;
    repeater_.send_to(bridge_.port(), signed_with(d, kKey));
    ASSERT_TRUE(bridge_.has_datagram(1000));
    const std::string out = turn();
    const std::string drop = " Dropped datagram from 127.0.0.1:" + std::to_string(repeater_.port()) + " on port " +
                             std::to_string(repeater_.port()) + ": too long\n";
    EXPECT_EQ(out.size() > 24 ? out.substr(24) : out, c.taken ? "" : drop) << c.length;
    reset_drop_reports();
  }
  sockaddr_in last{};
  ASSERT_TRUE(get_fromUser2(&last));  // only the one that fitted was taken
}

}  // namespace
