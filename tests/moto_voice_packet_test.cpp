#include "ipsc/moto_voice_packet.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "main/config.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Bytes 0..30 as every template holds them.
Bytes prefix(unsigned char flags, unsigned char rtp_pt, unsigned char burst_type) {
  Bytes b(31, 0x00);
  b[0] = 0x80;
  b[12] = 0x02;
  b[17] = flags;
  b[18] = 0x80;
  b[19] = rtp_pt;
  b[30] = burst_type;
  return b;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes zeros(size_t n) { return Bytes(n, 0x00); }

Bytes of(const unsigned char* p, size_t n) { return Bytes(p, p + n); }

struct BurstRow {
  const char* name;
  unsigned int position;
  const unsigned char* tmpl;
  Bytes expected;
};

std::vector<BurstRow> burst_table() {
  const Bytes voice = zeros(19);
  const Bytes trailer = zeros(10);
  const Bytes bp = prefix(0x20, 0x5D, 0x8A);
  auto bcdf = [&](Bytes fixed) { return cat(cat(cat(cat(bp, {0x19, 0x06}), voice), fixed), trailer); };
  return {
      {"A", 1, Voice_moto_A, cat(cat(cat(bp, {0x14, 0x40}), voice), trailer)},
      {"B", 2, Voice_moto_B, bcdf({0x05, 0x03, 0x0A, 0x03, 0x12})},
      {"C", 3, Voice_moto_C, bcdf({0x03, 0x0A, 0x00, 0x00, 0x16})},
      {"D", 4, Voice_moto_D, bcdf({0x0F, 0x06, 0x35, 0x0A, 0x16})},
      {"E", 5, Voice_moto_E, cat(cat(cat(cat(bp, {0x22, 0x16}), voice), cat(zeros(13), {0x14})), trailer)},
      {"F", 6, Voice_moto_F, bcdf({0x00, 0x00, 0x00, 0x00, 0x10})},
  };
}

void set_test_key() {
  for (unsigned i = 0; i < sizeof Key; ++i) Key[i] = static_cast<unsigned char>(0x0B + 17 * i);
}

Bytes hmac_trailer(const unsigned char* d, unsigned int n) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_len = 0;
  HMAC(EVP_sha1(), Key, sizeof Key, d, n, md, &md_len);
  return Bytes(md, md + 10);
}

unsigned voice_bit(const unsigned char* d, unsigned bit) { return (d[33 + bit / 8] >> (7 - bit % 8)) & 1u; }

const unsigned char kPeer[4] = {0x00, 0x0A, 0x0B, 0x0C};
const unsigned char kTag[4] = {0x11, 0x22, 0x33, 0x44};

// ------------------------------------------------------------------ templates

TEST(MotoTemplates, EveryFixedByteAsListed) {
  const Bytes lc_block = {0x84, 0x0A, 0x00, 0x60, 0x00, 0x00, 0x00};
  Bytes header = cat(cat(prefix(0x20, Voice_moto66[19], 0x01), {0x80, 0x00, 0x0B}), lc_block);
  header = cat(cat(header, zeros(6)), {0x02, 0xF8, 0xC5, 0x00, 0x11, 0x01, 0x36, 0x04, 0xCD});
  header = cat(header, zeros(10));
  EXPECT_EQ(of(Voice_moto66, sizeof Voice_moto66), header);

  Bytes term = cat(cat(prefix(0x60, 0x5E, 0x02), {0xC0, 0x00, 0x0A}), lc_block);
  term = cat(cat(term, zeros(6)), {0x0D, 0x7F, 0xCA, 0x00, 0x12, 0x05, 0x0C});
  term = cat(term, zeros(10));
  EXPECT_EQ(of(Voice_moto64, sizeof Voice_moto64), term);

  for (const BurstRow& row : burst_table()) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(moto_burst_len(row.position), row.expected.size());
    EXPECT_EQ(of(row.tmpl, row.expected.size()), row.expected);
  }
  EXPECT_EQ(sizeof Voice_moto_A, 62u);
  EXPECT_EQ(sizeof Voice_moto_B, 67u);
  EXPECT_EQ(sizeof Voice_moto_C, 67u);
  EXPECT_EQ(sizeof Voice_moto_D, 67u);
  EXPECT_EQ(sizeof Voice_moto_E, 76u);
  EXPECT_EQ(sizeof Voice_moto_F, 67u);
  EXPECT_EQ(sizeof Voice_moto, 80u);
  EXPECT_EQ(of(Voice_moto, sizeof Voice_moto), zeros(80));
}

TEST(MotoTemplates, BurstTableAndLoading) {
  const unsigned int lens[6] = {62, 67, 67, 67, 76, 67};
  for (const BurstRow& row : burst_table()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(moto_burst_template(row.position), row.tmpl);
    EXPECT_EQ(moto_burst_len(row.position), lens[row.position - 1]);
    EXPECT_EQ(moto_burst_signed_len(row.position), lens[row.position - 1] - 10);
    // Byte 31 counts what follows it up to the end of the signed part.
    EXPECT_EQ(row.tmpl[31], moto_burst_signed_len(row.position) - 32);

    unsigned char buf[80];
    std::memset(buf, 0xCC, sizeof buf);
    EXPECT_EQ(moto_load_burst(buf, row.position), moto_burst_signed_len(row.position));
    EXPECT_EQ(of(buf, row.expected.size()), row.expected);
    for (size_t i = row.expected.size(); i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xCC) << i;
  }
  unsigned char buf[80];
  std::memset(buf, 0xCC, sizeof buf);
  for (unsigned pos : {0u, 7u}) {
    EXPECT_EQ(moto_burst_template(pos), nullptr);
    EXPECT_EQ(moto_burst_len(pos), 0u);
    EXPECT_EQ(moto_load_burst(buf, pos), 0u);
  }
  EXPECT_EQ(of(buf, sizeof buf), Bytes(80, 0xCC));
  EXPECT_EQ(MOTO_HEADER_SIGNED + 10, sizeof Voice_moto66);
  EXPECT_EQ(MOTO_TERMINATOR_SIGNED + 10, sizeof Voice_moto64);
  // Only burst A marks the start of a superframe.
  for (const BurstRow& row : burst_table())
    EXPECT_EQ(moto_is_burst_a(row.tmpl, static_cast<long>(row.expected.size())), row.position == 1) << row.name;
}

// ------------------------------------------------------------------ fields

TEST(MotoFields, CommonPrefixIsBigEndianAndLeavesFixedBytes) {
  unsigned char d[66];
  std::memcpy(d, Voice_moto66, sizeof d);
  moto_fill_common(d, MOTO_OPCODE_PRIVATE_VOICE, kPeer, 7, 0xABCDEF, 0x123456, kTag, 0x0102);
  moto_set_rtp_timestamp(d, 1000000480u);  // 0x3B9ACBE0
  moto_set_rtp_marker_pt(d, MOTO_RTP_VOICE);

  const Bytes expect_0_25 = {0x81, 0x00, 0x0A, 0x0B, 0x0C, 0x07, 0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56, 0x02,
                             0x11, 0x22, 0x33, 0x44, 0x20, 0x80, 0x5D, 0x01, 0x02, 0x3B, 0x9A, 0xCB, 0xE0};
  EXPECT_EQ(of(d, 26), expect_0_25);
  EXPECT_EQ(of(d + 26, 40), of(Voice_moto66 + 26, 40));

  const long len = sizeof d;
  unsigned char u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0, u32b = 0;
  unsigned char tag[4];
  unsigned int type = 0;
  ASSERT_TRUE(moto_get_opcode(d, len, &u8));
  EXPECT_EQ(u8, 0x81);
  ASSERT_TRUE(moto_get_peer_id(d, len, &u32));
  EXPECT_EQ(u32, 0x000A0B0Cu);
  ASSERT_TRUE(moto_get_call_seq(d, len, &u8));
  EXPECT_EQ(u8, 7);
  ASSERT_TRUE(moto_get_source(d, len, &u32));
  EXPECT_EQ(u32, 0xABCDEFu);
  ASSERT_TRUE(moto_get_destination(d, len, &u32));
  EXPECT_EQ(u32, 0x123456u);
  ASSERT_TRUE(moto_get_call_tag(d, len, tag));
  EXPECT_EQ(0, std::memcmp(tag, kTag, 4));
  ASSERT_TRUE(moto_get_rtp_marker_pt(d, len, &u8));
  EXPECT_EQ(u8, 0x5D);
  ASSERT_TRUE(moto_get_rtp_sequence(d, len, &u16));
  EXPECT_EQ(u16, 0x0102);
  ASSERT_TRUE(moto_get_rtp_timestamp(d, len, &u32));
  EXPECT_EQ(u32, 1000000480u);
  ASSERT_TRUE(moto_get_burst_type(d, len, &type));
  EXPECT_EQ(type, MOTO_BURST_TYPE_HEADER);
  EXPECT_TRUE(moto_is_slot2(d, len));
  moto_set_lc_identifiers(d, 0x123456, 0xABCDEF);
  ASSERT_TRUE(moto_get_lc_identifiers(d, len, &u32, &u32b));
  EXPECT_EQ(u32, 0x123456u);
  EXPECT_EQ(u32b, 0xABCDEFu);
}

TEST(MotoFields, BurstTypeIgnoresTheTopBitsAndSlotFlag) {
  unsigned char d[67];
  std::memcpy(d, Voice_moto_B, sizeof d);
  unsigned int type = 0;
  ASSERT_TRUE(moto_get_burst_type(d, 67, &type));
  EXPECT_EQ(type, MOTO_BURST_TYPE_VOICE);
  d[30] = 0xC2;
  ASSERT_TRUE(moto_get_burst_type(d, 67, &type));
  EXPECT_EQ(type, MOTO_BURST_TYPE_TERMINATOR);
  EXPECT_TRUE(moto_is_slot2(Voice_moto64, 64));
  d[17] = 0x40;
  EXPECT_FALSE(moto_is_slot2(d, 67));
}

TEST(MotoFields, ReadersRefuseDatagramsTooShortForTheField) {
  unsigned char d[80];
  std::memcpy(d, Voice_moto_E, 76);
  d[32] = 0x40;
  unsigned char u8;
  uint16_t u16;
  uint32_t a, b;
  unsigned char tag[4], bits[49];
  unsigned int type;
  auto run = [&](long len) {
    return std::array<bool, 16>{
        moto_get_opcode(d, len, &u8),
        moto_get_peer_id(d, len, &a),
        moto_get_call_seq(d, len, &u8),
        moto_get_source(d, len, &a),
        moto_get_destination(d, len, &a),
        moto_get_call_tag(d, len, tag),
        moto_get_call_flags(d, len, &u8),
        moto_is_slot2(d, len),
        moto_get_rtp_marker_pt(d, len, &u8),
        moto_get_rtp_sequence(d, len, &u16),
        moto_get_rtp_timestamp(d, len, &a),
        moto_get_burst_type(d, len, &type),
        moto_is_burst_a(d, len),
        moto_get_voice_frame(d, len, 2, bits),
        moto_get_lc_identifiers(d, len, &a, &b),
        moto_get_burst_e_identifiers(d, len, &a, &b),
    };
  };
  // The shortest datagram that still holds each field, in the order above.
  const long needed[16] = {1, 5, 6, 9, 12, 17, 18, 18, 20, 22, 26, 31, 33, 52, 47, 65};
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_FALSE(run(needed[i] - 1)[i]) << "reader " << i;
    EXPECT_TRUE(run(needed[i])[i]) << "reader " << i;
  }
  const auto none = run(-1);
  for (size_t i = 0; i < 16; ++i) EXPECT_FALSE(none[i]) << "reader " << i;
}

TEST(MotoFields, IdentifiersLeaveLinkControlCheckBytes) {
  unsigned char header[66], term[64];
  std::memcpy(header, Voice_moto66, sizeof header);
  std::memcpy(term, Voice_moto64, sizeof term);
  for (uint32_t dst : {9u, 0x123456u, 0xFFFFFFu}) {
    for (uint32_t src : {1u, 0x654321u}) {
      for (unsigned char* d : {header, term}) {
        moto_set_destination(d, dst);
        moto_set_source(d, src);
        moto_set_lc_identifiers(d, dst, src);
      }
      EXPECT_EQ(of(header + 41, 3), of(header + 9, 3));
      EXPECT_EQ(of(header + 44, 3), of(header + 6, 3));
      EXPECT_EQ(of(header + 47, 3), Bytes({0x02, 0xF8, 0xC5}));
      EXPECT_EQ(of(term + 47, 3), Bytes({0x0D, 0x7F, 0xCA}));
      EXPECT_EQ(of(term + 41, 3), of(term + 9, 3));
      EXPECT_EQ(of(term + 44, 3), of(term + 6, 3));
    }
  }
  EXPECT_EQ(of(header + 41, 6), Bytes({0xFF, 0xFF, 0xFF, 0x65, 0x43, 0x21}));
}

TEST(MotoFields, BurstEIdentifiers) {
  unsigned char d[76];
  std::memcpy(d, Voice_moto_E, sizeof d);
  moto_set_burst_e_identifiers(d, 0x123456, 0xABCDEF);
  EXPECT_EQ(of(d + 52, 14), Bytes({0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0xAB, 0xCD, 0xEF, 0x14}));
  uint32_t dst = 0, src = 0;
  ASSERT_TRUE(moto_get_burst_e_identifiers(d, 76, &dst, &src));
  EXPECT_EQ(dst, 0x123456u);
  EXPECT_EQ(src, 0xABCDEFu);
}

// ------------------------------------------------------------------ voice field

TEST(MotoVoiceField, EachFrameBitLandsInItsPlace) {
  for (unsigned n = 0; n < 3; ++n) {
    for (unsigned j = 0; j < 49; ++j) {
      unsigned char d[67];
      std::memcpy(d, Voice_moto_B, sizeof d);
      unsigned char bits[49] = {};
      bits[j] = 1;
      ASSERT_TRUE(moto_put_voice_frame(d, n, bits));
      for (unsigned k = 0; k < 152; ++k)
        ASSERT_EQ(voice_bit(d, k), k == 50 * n + j ? 1u : 0u) << n << " " << j << " " << k;
    }
  }
}

TEST(MotoVoiceField, ThreeFramesRoundTripWithSpareBitsCleared) {
  std::mt19937 rng(99);
  for (int round = 0; round < 20; ++round) {
    unsigned char d[80];
    moto_load_burst(d, 2);
    std::memset(d + 33, 0xFF, 19);  // stale bits from a previous burst
    unsigned char f[3][49];
    for (auto& frame : f)
      for (auto& b : frame) b = static_cast<unsigned char>(rng() & 1u);
    moto_put_voice_frames(d, f[0], f[1], f[2]);
    for (unsigned k : {49u, 99u, 149u, 150u, 151u}) EXPECT_EQ(voice_bit(d, k), 0u) << k;
    EXPECT_EQ(of(d, 33), of(Voice_moto_B, 33));
    EXPECT_EQ(of(d + 52, 15), of(Voice_moto_B + 52, 15));
    for (unsigned n = 0; n < 3; ++n) {
      unsigned char back[49];
      ASSERT_TRUE(moto_get_voice_frame(d, 67, n, back));
      EXPECT_EQ(0, std::memcmp(back, f[n], 49)) << n;
    }
  }
  unsigned char d[62];
  std::memcpy(d, Voice_moto_A, sizeof d);
  unsigned char bits[49] = {};
  EXPECT_FALSE(moto_put_voice_frame(d, 3, bits));
  EXPECT_FALSE(moto_get_voice_frame(d, 62, 3, bits));
  EXPECT_EQ(of(d, sizeof d), of(Voice_moto_A, sizeof d));
}

// ------------------------------------------------------------------ signing

TEST(MotoSigning, EveryDatagramEndsInTheHmacOfWhatPrecedesIt) {
  set_test_key();
  struct Case {
    const char* name;
    const unsigned char* tmpl;
    unsigned int signed_len;
    unsigned int total;
  };
  const Case cases[] = {
      {"header", Voice_moto66, MOTO_HEADER_SIGNED, 66},  {"terminator", Voice_moto64, MOTO_TERMINATOR_SIGNED, 64},
      {"A", Voice_moto_A, moto_burst_signed_len(1), 62}, {"B", Voice_moto_B, moto_burst_signed_len(2), 67},
      {"C", Voice_moto_C, moto_burst_signed_len(3), 67}, {"D", Voice_moto_D, moto_burst_signed_len(4), 67},
      {"E", Voice_moto_E, moto_burst_signed_len(5), 76}, {"F", Voice_moto_F, moto_burst_signed_len(6), 67},
  };
  std::mt19937 rng(4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char d[80];
    std::memset(d, 0xCC, sizeof d);
    std::memcpy(d, c.tmpl, c.total);
    moto_fill_common(d, MOTO_OPCODE_GROUP_VOICE, kPeer, 200, 0x2A0F1E, 0x123456, kTag, static_cast<uint16_t>(rng()));
    moto_set_rtp_timestamp(d, static_cast<uint32_t>(rng()));
    unsigned char frame[49];
    for (auto& b : frame) b = static_cast<unsigned char>(rng() & 1u);
    if (c.total != 66 && c.total != 64) moto_put_voice_frames(d, frame, frame, frame);
    const Bytes body = of(d, c.signed_len);

    EXPECT_EQ(moto_sign(d, c.signed_len), c.total);
    EXPECT_EQ(of(d, c.signed_len), body);
    EXPECT_EQ(of(d + c.signed_len, 10), hmac_trailer(d, c.signed_len));
    for (size_t i = c.total; i < sizeof d; ++i) EXPECT_EQ(d[i], 0xCC) << i;
  }
}

}  // namespace
