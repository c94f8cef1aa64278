#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ipsc/hmac.h"
#include "ipsc/packet_sign.h"
#include "ipsc/sha1.h"
#include "main/config.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const unsigned char* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}
std::string digest_hex() { return hex(shadigest, 20); }
Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }
Bytes repeated(unsigned char b, size_t n) { return Bytes(n, b); }

Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<unsigned char>(rng());
  return b;
}

std::string reference_sha1(const Bytes& m) {
  unsigned char md[20];
  ::SHA1(m.data(), m.size(), md);
  return hex(md, 20);
}

std::string reference_hmac(const Bytes& key, const unsigned char* data, size_t n) {
  unsigned char md[20];
  unsigned int md_len = 0;
  // OpenSSL refuses null pointers even for empty inputs.
  static const unsigned char nothing = 0;
  const unsigned char* k = key.empty() ? &nothing : key.data();
  if (HMAC(EVP_sha1(), k, static_cast<int>(key.size()), n ? data : &nothing, n, md, &md_len) == nullptr)
    return "OpenSSL HMAC failed";
  return hex(md, md_len);
}
std::string reference_hmac(const Bytes& key, const Bytes& m) { return reference_hmac(key, m.data(), m.size()); }

uint16_t byte_count_while_hashing() {
  uint16_t count;
  memcpy(&count, shadigest + 20, sizeof count);
  return count;
}

}  // namespace

TEST(Sha1, ReproducesFips180Vectors) {
  const struct {
    const char* message;
    const char* digest;
  } vectors[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
  };
  for (const auto& v : vectors) {
    SHA1Once(reinterpret_cast<const unsigned char*>(v.message), static_cast<int>(strlen(v.message)));
    EXPECT_EQ(digest_hex(), v.digest) << '"' << v.message << '"';
  }
}

TEST(HmacSha1, ReproducesRfc2202Vectors) {
  Bytes key4;
  for (unsigned char i = 1; i <= 25; ++i) key4.push_back(i);
  const struct {
    Bytes key, data;
    const char* mac;
  } vectors[] = {
      {repeated(0x0b, 20), text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
      {text("Jefe"), text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {repeated(0xaa, 20), repeated(0xdd, 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key4, repeated(0xcd, 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {repeated(0x0c, 20), text("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
  };
  for (const auto& v : vectors) {
    HMACOnce(v.key.data(), static_cast<unsigned char>(v.key.size()), v.data.data(), static_cast<int>(v.data.size()));
    EXPECT_EQ(digest_hex(), v.mac);
  }
}

TEST(Sha1Hmac, AgreeWithOpenSslForEveryLengthUpTo300AndKeysUpTo64) {
  std::mt19937 rng(4711);
  for (int len = 0; len <= 300; ++len) {
    const Bytes m = random_bytes(rng, static_cast<size_t>(len));
    SHA1Once(m.data(), len);
    ASSERT_EQ(digest_hex(), reference_sha1(m)) << "length " << len;
    const Bytes key = random_bytes(rng, static_cast<size_t>(len % 65));
    HMACOnce(key.data(), static_cast<unsigned char>(key.size()), m.data(), len);
    ASSERT_EQ(digest_hex(), reference_hmac(key, m)) << "length " << len << " key " << key.size();
  }
}

// Fed piece by piece, including final pieces of 56..63 bytes that need a
// second block for the length, and whole-block messages closed by an empty piece.
TEST(Sha1Hmac, StreamedPiecesMatchWholeMessage) {
  std::mt19937 rng(99);
  const Bytes key = random_bytes(rng, 20);
  for (int blocks = 0; blocks <= 2; ++blocks) {
    for (int last = 0; last <= 63; ++last) {
      const Bytes m = random_bytes(rng, static_cast<size_t>(64 * blocks + last));
      HMACInit(key.data(), 20);
      for (int b = 0; b < blocks; ++b) HMACBlock(m.data() + 64 * b, 64);
      HMACBlock(m.data() + 64 * blocks, static_cast<unsigned char>(last));
      EXPECT_EQ(byte_count_while_hashing(), 64 + m.size());
      HMACDone();
      ASSERT_EQ(digest_hex(), reference_hmac(key, m)) << blocks << " blocks + " << last;

      SHA1Init();
      for (int b = 0; b < blocks; ++b) SHA1Block(m.data() + 64 * b, 64);
      SHA1Block(m.data() + 64 * blocks, static_cast<unsigned char>(last));
      EXPECT_EQ(byte_count_while_hashing(), m.size());
      SHA1Done();
      ASSERT_EQ(digest_hex(), reference_sha1(m)) << blocks << " blocks + " << last;
    }
  }
}

TEST(Sha1, SixteenBitCountCoversLongestMessage) {
  std::mt19937 rng(7);
  const Bytes m = random_bytes(rng, 65535);
  SHA1Once(m.data(), static_cast<int>(m.size()));
  EXPECT_EQ(digest_hex(), reference_sha1(m));
}

TEST(HmacSha1, KeyBlockHoldsInnerThenOuterPad) {
  const Bytes key = text("0123456789abcdefghij");
  const Bytes data = text("payload");
  for (int round = 0; round < 2; ++round) {  // first compression, then the kept state
    HMACInit(key.data(), 20);
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(hmackey[i], (i < 20 ? key[i] : 0) ^ 0x36) << "byte " << i;
    HMACBlock(data.data(), static_cast<unsigned char>(data.size()));
    HMACDone();
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(hmackey[i], (i < 20 ? key[i] : 0) ^ 0x5c) << "byte " << i;
    EXPECT_EQ(digest_hex(), reference_hmac(key, data));
  }
}

TEST(HmacSha1, SecondInitDiscardsUnfinishedWork) {
  std::mt19937 rng(3);
  const Bytes key_a = random_bytes(rng, 20), key_b = random_bytes(rng, 33);
  const Bytes junk = random_bytes(rng, 64), m = random_bytes(rng, 66);
  for (const Bytes* second : {&key_a, &key_b}) {
    HMACInit(key_a.data(), 20);
    HMACBlock(junk.data(), 64);
    HMACInit(second->data(), static_cast<unsigned char>(second->size()));
    HMACBlock(m.data(), 64);
    HMACBlock(m.data() + 64, 2);
    HMACDone();
    EXPECT_EQ(digest_hex(), reference_hmac(*second, m));
  }
}

// The key blocks' compressed states are kept between calls; any change of
// key, including one of length alone or in its last byte, must be noticed.
TEST(HmacSha1, KeyChangesBetweenCallsAreHonoured) {
  std::mt19937 rng(11);
  const Bytes m = random_bytes(rng, 57);
  const Bytes a = random_bytes(rng, 20);
  Bytes a_last = a;
  a_last[19] ^= 1;
  Bytes a_short(a.begin(), a.end() - 1);
  Bytes a_zero_tail = a;  // zero-padding makes this the same key block as a
  a_zero_tail.push_back(0);
  const Bytes b = random_bytes(rng, 64), empty;
  for (const Bytes* key :
       std::initializer_list<const Bytes*>{&a, &b, &a, &a, &a_last, &a, &a_short, &a_zero_tail, &a, &empty, &a}) {
    HMACOnce(key->data(), static_cast<unsigned char>(key->size()), m.data(), 57);
    EXPECT_EQ(digest_hex(), reference_hmac(*key, m)) << "key of " << key->size();
    SHA1Once(m.data(), 57);  // plain hashing in between shares the context
    EXPECT_EQ(digest_hex(), reference_sha1(m));
  }
}

TEST(SignIpscPacket, TrailerIsFirstTenBytesOfHmacOverPrecedingBytes) {
  std::mt19937 rng(2024);
  const Bytes network_key = random_bytes(rng, 20);
  memcpy(Key, network_key.data(), 20);
  const Bytes other_key = random_bytes(rng, 20);
  for (unsigned n : {5u, 14u, 52u, 56u, 57u, 66u}) {
    const Bytes original = random_bytes(rng, n + 10 + 4);
    Bytes packet = original;
    sign_ipsc_packet(packet.data(), n);
    EXPECT_EQ(hex(packet.data() + n, 10), reference_hmac(network_key, original.data(), n).substr(0, 20)) << "n = " << n;
    EXPECT_TRUE(std::equal(packet.begin(), packet.begin() + n, original.begin()));
    EXPECT_TRUE(std::equal(packet.end() - 4, packet.end(), original.end() - 4)) << "wrote past trailer";

    packet = original;
    sign_ipsc_packet(packet.data(), n, other_key.data(), 20);
    EXPECT_EQ(hex(packet.data() + n, 10), reference_hmac(other_key, original.data(), n).substr(0, 20))
        << "explicit key, n = " << n;
  }
}
