#include "master_link/hytera_voice_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "../sim/common/dmr_burst_decoder.h"

namespace {

using Packet = std::array<unsigned char, 72>;

Packet copy_of(const unsigned char* t) {
  Packet p;
  std::memcpy(p.data(), t, p.size());
  return p;
}

dmrtest::Burst burst_of(const unsigned char* packet) {
  dmrtest::Burst b;
  hyt_get_burst(packet, b.data());
  return b;
}

Packet random_packet(std::mt19937& rng) {
  Packet p;
  for (auto& v : p) v = static_cast<unsigned char>(rng());
  return p;
}

// Centre of a voice burst (burst bits 108..155) as a number.
uint64_t centre_of(const unsigned char* packet) {
  const dmrtest::Burst b = burst_of(packet);
  return dmrtest::get_bits(b.data(), 108, 48);
}

uint16_t emb_of(const unsigned char* packet) {
  const dmrtest::Burst b = burst_of(packet);
  return static_cast<uint16_t>((dmrtest::get_bits(b.data(), 108, 8) << 8) | dmrtest::get_bits(b.data(), 148, 8));
}

// ------------------------------------------------------------------ templates

struct TemplateRow {
  const char* name;
  const unsigned char* bytes;
  std::array<unsigned char, 4> leading;
  unsigned char kind;
  unsigned char frame_type;
  std::array<unsigned char, 2> b22, b24, b60;
};

const TemplateRow kTemplateTable[] = {
    {"sync_hyt", sync_hyt, {0, 0, 0, 0}, 0x02, 0xEE, {0x11, 0x11}, {0x00, 0x00}, {0x00, 0x00}},
    {"start_hyt", start_hyt, {0, 0, 0, 0}, 0x01, 0x11, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"ende_hyt", ende_hyt, {0, 0, 0, 0}, 0x03, 0x22, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt1", Voice_hyt1, {0, 0, 0, 0}, 0x01, 0x77, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt2", Voice_hyt2, {0, 0, 0, 0}, 0x01, 0x88, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt3", Voice_hyt3, {0, 0, 0, 0}, 0x01, 0x99, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt4", Voice_hyt4, {0, 0, 0, 0}, 0x01, 0xAA, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt5", Voice_hyt5, {0xEE, 0xEE, 0x11, 0x11}, 0x01, 0xBB, {0, 0}, {0x10, 0}, {0x02, 0}},
    {"Voice_hyt6", Voice_hyt6, {0, 0, 0, 0}, 0x01, 0xCC, {0, 0}, {0x10, 0}, {0x02, 0}},
};

TEST(HyteraTemplates, EveryHeaderByteAsListed) {
  for (const TemplateRow& row : kTemplateTable) {
    SCOPED_TRACE(row.name);
    const unsigned char* t = row.bytes;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t[i], row.leading[static_cast<size_t>(i)]) << "byte " << i;
    EXPECT_EQ(t[6], 0x00);
    EXPECT_EQ(t[7], 0x00);
    EXPECT_EQ(t[8], row.kind);
    const unsigned char fixed_9_15[] = {0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(t[9 + i], fixed_9_15[i]) << "byte " << 9 + i;
    EXPECT_EQ(t[16], 0x22);
    EXPECT_EQ(t[17], 0x22);
    EXPECT_EQ(t[18], row.frame_type);
    EXPECT_EQ(t[19], row.frame_type);
    EXPECT_EQ(t[20], 0x11);
    EXPECT_EQ(t[21], 0x11);
    EXPECT_EQ(t[22], row.b22[0]);
    EXPECT_EQ(t[23], row.b22[1]);
    EXPECT_EQ(t[24], row.b24[0]);
    EXPECT_EQ(t[25], row.b24[1]);
    EXPECT_EQ(t[58], 0x00);
    EXPECT_EQ(t[60], row.b60[0]);
    EXPECT_EQ(t[61], row.b60[1]);
    EXPECT_EQ(t[62], 0x01);
    EXPECT_EQ(t[63], 0x00);
    EXPECT_EQ(t[67], 0x00);
    EXPECT_EQ(t[71], 0x00);
    // The readers agree with the stored header.
    EXPECT_EQ(hyt_kind(t), row.kind);
    EXPECT_EQ(hyt_slot(t), 2u);
    EXPECT_EQ(hyt_frame_type(t), row.frame_type);
    EXPECT_EQ(hyt_call_type(t), HYT_CALL_GROUP);
  }
  for (int i = 26; i < 60; ++i) EXPECT_EQ(sync_hyt[i], 0x00) << "sync_hyt burst byte " << i;
}

TEST(HyteraTemplates, SuperframePositionsMapToTemplatesAndCodes) {
  const unsigned char* expected[] = {Voice_hyt1, Voice_hyt2, Voice_hyt3, Voice_hyt4, Voice_hyt5, Voice_hyt6};
  for (unsigned int pos = 1; pos <= 6; ++pos) {
    EXPECT_EQ(hyt_voice_template(pos), expected[pos - 1]);
    EXPECT_EQ(hyt_voice_frame_type(pos), expected[pos - 1][19]);
    EXPECT_EQ(hyt_voice_position(expected[pos - 1][19]), pos);
  }
  EXPECT_EQ(hyt_voice_template(0), nullptr);
  EXPECT_EQ(hyt_voice_template(7), nullptr);
  EXPECT_EQ(hyt_voice_frame_type(7), 0);
  for (unsigned char code : {HYT_FT_SYNC, HYT_FT_VOICE_HEADER, HYT_FT_TERMINATOR, static_cast<unsigned char>(0x00)})
    EXPECT_EQ(hyt_voice_position(code), 0u) << int(code);
}

TEST(HyteraTemplates, VoiceBurstCentresCarrySyncAndEmb) {
  EXPECT_EQ(centre_of(Voice_hyt1), dmrtest::kVoiceSyncBs);

  struct {
    const unsigned char* t;
    uint16_t emb;
    uint8_t lcss;
  } rows[] = {{Voice_hyt2, 0x1391, 1},
              {Voice_hyt3, 0x1774, 3},
              {Voice_hyt4, 0x1774, 3},
              {Voice_hyt5, 0x1507, 2},
              {Voice_hyt6, 0x11E2, 0}};
  for (const auto& r : rows) {
    EXPECT_EQ(emb_of(r.t), r.emb);
    // Colour code 1, PI 0 and the fragment's LCSS, with valid QR(16,7,6) parity.
    EXPECT_EQ(dmrtest::emb_codeword(1, 0, r.lcss), r.emb);
  }
  unsigned char embedded[32];
  hyt_get_embedded_signalling(Voice_hyt6, embedded);
  for (unsigned char b : embedded) EXPECT_EQ(b, 0);
}

// ------------------------------------------------------------------ header fields

TEST(HyteraFields, IdentifiersAndSequenceAreLittleEndian) {
  Packet p = copy_of(Voice_hyt1);
  hyt_set_destination(p.data(), 0x123456);
  hyt_set_source(p.data(), 0xABCDEF);
  hyt_set_sequence(p.data(), 0x0102);
  EXPECT_EQ(p[64], 0x56);
  EXPECT_EQ(p[65], 0x34);
  EXPECT_EQ(p[66], 0x12);
  EXPECT_EQ(p[67], 0x00);
  EXPECT_EQ(p[68], 0xEF);
  EXPECT_EQ(p[69], 0xCD);
  EXPECT_EQ(p[70], 0xAB);
  EXPECT_EQ(p[71], 0x00);
  EXPECT_EQ(p[4], 0x02);
  EXPECT_EQ(p[5], 0x01);
  EXPECT_EQ(hyt_destination(p.data()), 0x123456u);
  EXPECT_EQ(hyt_source(p.data()), 0xABCDEFu);
  EXPECT_EQ(hyt_sequence(p.data()), 0x0102);
  hyt_set_sequence(p.data(), 0xFFFE);
  EXPECT_EQ(hyt_sequence(p.data()), 0xFFFE);
}

TEST(HyteraFields, ReadersTakeTheLowNibbleAndTheSecondFrameTypeByte) {
  Packet p{};
  p[8] = 0xF3;
  p[16] = 0x12;
  p[18] = 0x00;
  p[19] = 0xBB;
  EXPECT_EQ(hyt_kind(p.data()), 3u);
  EXPECT_EQ(hyt_slot(p.data()), 2u);
  EXPECT_EQ(hyt_frame_type(p.data()), 0xBB);

  hyt_set_slot(p.data(), 1);
  hyt_set_frame_type(p.data(), HYT_FT_BURST_C);
  hyt_set_kind(p.data(), HYT_KIND_END);
  EXPECT_EQ(p[16], 0x11);
  EXPECT_EQ(p[17], 0x11);
  EXPECT_EQ(p[18], 0x99);
  EXPECT_EQ(p[19], 0x99);
  EXPECT_EQ(p[8], 0x03);
}

TEST(HyteraFields, PrivateCallDiffersOnlyInCallType) {
  Packet group = copy_of(Voice_hyt3);
  Packet priv = group;
  hyt_set_call_type(priv.data(), HYT_CALL_PRIVATE);
  EXPECT_EQ(hyt_call_type(priv.data()), 0);
  for (size_t i = 0; i < 72; ++i)
    if (i != 62) {
      EXPECT_EQ(priv[i], group[i]) << i;
    }
  EXPECT_EQ(priv[62], 0x00);
}

TEST(HyteraFields, SourceInsideBurstFieldHighByteFirst) {
  Packet p = copy_of(start_hyt);
  const Packet before = p;
  hyt_set_burst_source(p.data(), 0x123456);
  EXPECT_EQ(p[38], 0x12);
  EXPECT_EQ(p[40], 0x34);
  EXPECT_EQ(p[42], 0x56);
  for (size_t i = 0; i < 72; ++i)
    if (i != 38 && i != 40 && i != 42) {
      EXPECT_EQ(p[i], before[i]) << i;
    }
  EXPECT_EQ(hyt_burst_byte(p.data(), 13), 0x12);
  EXPECT_EQ(hyt_burst_byte(p.data(), 15), 0x34);
  EXPECT_EQ(hyt_burst_byte(p.data(), 17), 0x56);
}

TEST(HyteraFields, OnlyExactly72BytesIsAVoicePacket) {
  EXPECT_TRUE(hyt_is_voice_datagram(72));
  for (long len : {-1L, 0L, 1L, 66L, 71L, 73L, 224L}) EXPECT_FALSE(hyt_is_voice_datagram(len)) << len;
}

// ------------------------------------------------------------------ burst field

TEST(HyteraBurstField, BytePairsAreSwapped) {
  Packet p = copy_of(Voice_hyt2);
  const Packet before = p;
  unsigned char burst[33];
  for (unsigned i = 0; i < 33; ++i) burst[i] = static_cast<unsigned char>(0xA0 + i);
  hyt_put_burst(p.data(), burst);
  EXPECT_EQ(p[27], 0xA0);  // burst byte 0
  EXPECT_EQ(p[26], 0xA1);  // burst byte 1
  EXPECT_EQ(p[59], 0xA0 + 32);
  EXPECT_EQ(p[58], 0x00);
  for (size_t i = 0; i < 72; ++i)
    if (i < 26 || i > 59) {
      EXPECT_EQ(p[i], before[i]) << i;
    }
  for (unsigned i = 0; i < 33; ++i) {
    EXPECT_EQ(hyt_burst_offset(i), 26 + (i ^ 1u));
    EXPECT_EQ(hyt_burst_byte(p.data(), i), burst[i]);
  }
  unsigned char back[33];
  hyt_get_burst(p.data(), back);
  EXPECT_EQ(0, std::memcmp(back, burst, 33));

  hyt_set_burst_byte(p.data(), 32, 0x5A);
  EXPECT_EQ(p[59], 0x5A);
  hyt_set_burst_byte(p.data(), 33, 0x77);  // beyond the burst: must not reach byte 58
  EXPECT_EQ(p[58], 0x00);
  EXPECT_EQ(hyt_burst_byte(p.data(), 33), 0);
}

TEST(HyteraBurstField, SwappingAllPairsPutsTheBurstInOrder) {
  std::mt19937 rng(7);
  Packet p = random_packet(rng);
  const Packet wire = p;
  hyt_swap_pairs(p.data());
  for (unsigned i = 0; i < 33; ++i) EXPECT_EQ(p[26 + i], hyt_burst_byte(wire.data(), i)) << i;
  EXPECT_EQ(p[0], wire[1]);
  EXPECT_EQ(p[71], wire[70]);

  // The image is exactly the swapped packet unpacked, most significant bit first.
  std::vector<unsigned char> image(HYT_IMAGE_BITS), manual(HYT_IMAGE_BITS);
  hyt_packet_to_image(wire.data(), image.data());
  hyt_unpack_bits(p.data(), 72, manual.data());
  EXPECT_EQ(image, manual);
  EXPECT_EQ(manual[8 * 26], wire[27] >> 7);
  Packet packed{};
  hyt_pack_bits(manual.data(), 72, packed.data());
  EXPECT_EQ(packed, p);

  hyt_swap_pairs(p.data());
  EXPECT_EQ(p, wire);
}

TEST(HyteraBurstField, ImageAndDirectBitAccessAgree) {
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    const Packet wire = random_packet(rng);
    std::vector<unsigned char> image(HYT_IMAGE_BITS);
    hyt_packet_to_image(wire.data(), image.data());

    unsigned char bits[264];
    ASSERT_TRUE(hyt_read_burst_bits(wire.data(), 0, 264, bits));
    for (unsigned k = 0; k < 264; ++k) ASSERT_EQ(image[HYT_IMAGE_BURST_BIT + k], bits[k]) << k;

    // The sender's way (swap, unpack, write bits, pack, swap back) and the
    // direct writer give the same packet.
    unsigned char fresh[264];
    for (auto& b : fresh) b = static_cast<unsigned char>(rng() & 1u);
    const unsigned first = rng() % 200, count = 1 + rng() % 64;
    for (unsigned k = 0; k < count; ++k) image[HYT_IMAGE_BURST_BIT + first + k] = fresh[k];
    Packet via_image{};
    hyt_image_to_packet(image.data(), via_image.data());
    Packet direct = wire;
    ASSERT_TRUE(hyt_write_burst_bits(direct.data(), first, count, fresh));
    ASSERT_EQ(via_image, direct);
  }
}

TEST(HyteraBurstField, BitRangesOutsideTheBurstAreRefused) {
  Packet p = copy_of(Voice_hyt1);
  const Packet before = p;
  unsigned char bits[64] = {};
  for (auto& b : bits) b = 1;
  EXPECT_FALSE(hyt_write_burst_bits(p.data(), 260, 5, bits));
  EXPECT_FALSE(hyt_write_burst_bits(p.data(), 265, 0, bits));
  EXPECT_FALSE(hyt_write_burst_bits(p.data(), 1, 0xFFFFFFFFu, bits));
  EXPECT_EQ(p, before);
  EXPECT_TRUE(hyt_write_burst_bits(p.data(), 264, 0, bits));
  EXPECT_TRUE(hyt_read_burst_bits(p.data(), 200, 64, bits));
  EXPECT_FALSE(hyt_read_burst_bits(p.data(), 201, 64, bits));
  EXPECT_FALSE(hyt_get_ambe_frame(p.data(), 3, bits));
  EXPECT_FALSE(hyt_put_ambe_frame(p.data(), 3, bits));
  EXPECT_EQ(p, before);
}

TEST(HyteraBurstField, AmbeFramesSurroundTheCentre) {
  // Frame 2 of the burst is split: 36 bits before the centre, 36 after.
  Packet p = copy_of(Voice_hyt1);
  unsigned char ones[72];
  std::memset(ones, 1, sizeof ones);
  ASSERT_TRUE(hyt_put_ambe_frame(p.data(), 1, ones));
  unsigned char bits[264];
  hyt_read_burst_bits(p.data(), 0, 264, bits);
  for (unsigned k = 0; k < 264; ++k) {
    const bool frame2 = (k >= 72 && k < 108) || (k >= 156 && k < 192);
    if (frame2) {
      EXPECT_EQ(bits[k], 1) << k;
    }
    if (k < 72 || k >= 192) {
      EXPECT_EQ(bits[k], 0) << k;
    }
  }
  EXPECT_EQ(centre_of(p.data()), dmrtest::kVoiceSyncBs);

  std::mt19937 rng(5);
  unsigned char frames[3][72], back[72];
  for (auto& f : frames)
    for (auto& b : f) b = static_cast<unsigned char>(rng() & 1u);
  for (unsigned n = 0; n < 3; ++n) hyt_put_ambe_frame(p.data(), n, frames[n]);
  for (unsigned n = 0; n < 3; ++n) {
    ASSERT_TRUE(hyt_get_ambe_frame(p.data(), n, back));
    EXPECT_EQ(0, std::memcmp(back, frames[n], 72)) << n;
  }
  EXPECT_EQ(centre_of(p.data()), dmrtest::kVoiceSyncBs);
  for (size_t i = 0; i < 72; ++i)
    if (i < 26 || i > 59) {
      EXPECT_EQ(p[i], Voice_hyt1[i]) << i;
    }
}

TEST(HyteraBurstField, EmbeddedSignallingLeavesTheEmbAlone) {
  Packet p = copy_of(Voice_hyt2);
  unsigned char frag[32], back[32];
  for (unsigned i = 0; i < 32; ++i) frag[i] = static_cast<unsigned char>((i * 7 + 1) % 3 == 0);
  hyt_put_embedded_signalling(p.data(), frag);
  hyt_get_embedded_signalling(p.data(), back);
  EXPECT_EQ(0, std::memcmp(frag, back, 32));
  EXPECT_EQ(emb_of(p.data()), 0x1391);
  unsigned char around[108];
  hyt_read_burst_bits(p.data(), 0, 108, around);
  for (unsigned char b : around) EXPECT_EQ(b, 0);
}

// ------------------------------------------------------------------ voice LC header and terminator

TEST(HyteraLcBursts, HeaderAndTerminatorDecode) {
  struct {
    const unsigned char* t;
    uint8_t data_type;
    uint8_t mask;
  } rows[] = {{start_hyt, dmrtest::kDataTypeVoiceLcHeader, 0x96}, {ende_hyt, dmrtest::kDataTypeTerminatorLc, 0x99}};
  std::array<uint8_t, 9> lcs[2];
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const dmrtest::Burst b = burst_of(rows[i].t);
    const dmrtest::LcBurst d = dmrtest::decode_lc_burst(b.data());
    EXPECT_TRUE(d.data_sync);
    EXPECT_EQ(d.slot.distance, 0);
    EXPECT_EQ(d.slot.colour_code, 1);
    EXPECT_EQ(d.slot.data_type, rows[i].data_type);
    EXPECT_EQ(d.bptc.failing_rows, 0u);
    EXPECT_EQ(d.bptc.failing_columns, 0u);
    EXPECT_TRUE(d.bptc.clean);
    EXPECT_TRUE(d.bptc.reserved_zero);
    EXPECT_TRUE(d.rs_ok);
    // Group call, no options, to talk group 9 from a valid subscriber.
    EXPECT_EQ(d.lc[0], 0x00);
    EXPECT_EQ(d.lc[1], 0x00);
    EXPECT_EQ(d.lc[2], 0x00);
    EXPECT_EQ(d.lc[3], 0x00);
    EXPECT_EQ(d.lc[4], 0x00);
    EXPECT_EQ(d.lc[5], 0x09);
    const uint32_t source = (uint32_t{d.lc[6]} << 16) | (uint32_t{d.lc[7]} << 8) | d.lc[8];
    EXPECT_NE(source, 0u);
    // The parity is the RS(12,9) remainder under this data type's mask only.
    const auto parity = dmrtest::rs129_parity(d.lc.data());
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(d.check[static_cast<size_t>(k)], parity[static_cast<size_t>(k)] ^ rows[i].mask);
    const uint8_t other_mask = rows[i].mask == 0x96 ? 0x99 : 0x96;
    uint8_t octets[12];
    std::memcpy(octets, d.lc.data(), 9);
    for (int k = 0; k < 3; ++k) octets[9 + k] = static_cast<uint8_t>(d.check[static_cast<size_t>(k)] ^ other_mask);
    EXPECT_NE(dmrtest::rs129_syndromes(octets), (std::array<uint8_t, 3>{}));
    // Every bit, reserved and parity bits included, is what the standard coding gives.
    EXPECT_EQ(dmrtest::encode_lc_burst(d.lc.data(), 1, rows[i].data_type), b);
    lcs[i] = d.lc;
  }
  EXPECT_EQ(lcs[0], lcs[1]);
}

TEST(HyteraLcBursts, MatchTheIndependentCheckBursts) {
  const dmrtest::Burst header = {0x00, 0x20, 0x08, 0x08, 0x02, 0x38, 0x15, 0x00, 0x2C, 0xA0, 0x14,
                                 0x60, 0x84, 0x6D, 0xFF, 0x57, 0xD7, 0x5D, 0xF5, 0xDE, 0x30, 0x30,
                                 0x01, 0x10, 0x01, 0x40, 0x03, 0xC0, 0x13, 0xC1, 0x1E, 0x80, 0x6F};
  const dmrtest::Burst terminator = {0x00, 0x4F, 0x08, 0xDC, 0x02, 0x88, 0x15, 0x78, 0x2C, 0xD0, 0x14,
                                     0xC0, 0x84, 0xAD, 0xFF, 0x57, 0xD7, 0x5D, 0xF5, 0xD9, 0x65, 0x24,
                                     0x02, 0x28, 0x06, 0x20, 0x0F, 0x80, 0x1B, 0xC1, 0x07, 0x80, 0x5C};
  EXPECT_EQ(burst_of(start_hyt), header);
  EXPECT_EQ(burst_of(ende_hyt), terminator);
  // The test encoder reproduces them too, so the decoder above judges real bursts.
  const uint8_t lc[9] = {0, 0, 0, 0, 0, 9, 0, 0, 1};
  EXPECT_EQ(dmrtest::encode_lc_burst(lc, 1, 1), header);
  EXPECT_EQ(dmrtest::encode_lc_burst(lc, 1, 2), terminator);
}

// ------------------------------------------------------------------ the test decoder itself

TEST(DmrBurstDecoder, ReedSolomonCheckValues) {
  const uint8_t a[9] = {0, 0, 0, 0, 0, 9, 0, 0, 1};
  const uint8_t b[9] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t c[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(dmrtest::rs129_parity(a), (std::array<uint8_t, 3>{0x46, 0xD7, 0xC4}));
  EXPECT_EQ(dmrtest::rs129_parity(b), (std::array<uint8_t, 3>{0xD9, 0xB0, 0x13}));
  EXPECT_EQ(dmrtest::rs129_parity(c), (std::array<uint8_t, 3>{0xBC, 0x70, 0x1F}));

  // Syndromes: zero for a code word, non-zero after any single corrupted octet.
  std::mt19937 rng(1);
  for (int round = 0; round < 50; ++round) {
    uint8_t word[12];
    for (int i = 0; i < 9; ++i) word[i] = static_cast<uint8_t>(rng());
    const auto p = dmrtest::rs129_parity(word);
    std::memcpy(word + 9, p.data(), 3);
    ASSERT_EQ(dmrtest::rs129_syndromes(word), (std::array<uint8_t, 3>{}));
    const unsigned pos = rng() % 12;
    word[pos] = static_cast<uint8_t>(word[pos] ^ (1 + rng() % 255));
    ASSERT_NE(dmrtest::rs129_syndromes(word), (std::array<uint8_t, 3>{}));
  }
}

TEST(DmrBurstDecoder, GolayAndSlotTypeCheckValues) {
  EXPECT_EQ(dmrtest::golay23_codeword(0x001), 0x000C75u);
  EXPECT_EQ(dmrtest::golay23_codeword(0x800), 0x40063Au);
  EXPECT_EQ(dmrtest::golay23_codeword(0x123), 0x091856u);
  EXPECT_EQ(dmrtest::golay23_codeword(0xFFF), 0x7FFFFFu);
  EXPECT_EQ(dmrtest::golay24_codeword(0x001), 0x0018EBu);
  EXPECT_EQ(dmrtest::golay24_codeword(0x800), 0x800C75u);
  EXPECT_EQ(dmrtest::golay24_codeword(0x123), 0x1230ACu);
  EXPECT_EQ(dmrtest::slot_type_word(1, 1), 0b00010001101110001100u);
  EXPECT_EQ(dmrtest::slot_type_word(1, 2), 0b00010010101001011001u);

  // Any two slot type words are at least 8 bits apart, so up to 3 bit errors
  // still decode to the sent colour code and data type.
  const uint32_t w = dmrtest::slot_type_word(1, 2);
  const dmrtest::SlotType s = dmrtest::slot_type_decode(w ^ 0x80201u);
  EXPECT_EQ(s.colour_code, 1);
  EXPECT_EQ(s.data_type, 2);
  EXPECT_EQ(s.distance, 3);
}

TEST(DmrBurstDecoder, QrEmbCheckValues) {
  EXPECT_EQ(dmrtest::emb_codeword(0, 0, 1), 0x0273);
  EXPECT_EQ(dmrtest::emb_codeword(15, 1, 3), 0xFE5B);
}

TEST(DmrBurstDecoder, SingleInformationBitSpreadsToTheListedPositions) {
  uint8_t info[96] = {};
  info[0] = 1;
  uint8_t coded[196];
  dmrtest::bptc_encode(info, coded);
  const std::vector<unsigned> expected = {1,  13, 16,  30,  42,  45,  59,  60,  71,  74,
                                          88, 89, 103, 117, 118, 132, 136, 147, 180, 182};
  std::vector<unsigned> set;
  for (unsigned p = 0; p < 196; ++p)
    if (coded[p]) set.push_back(p);
  EXPECT_EQ(set, expected);
  const dmrtest::BptcResult r = dmrtest::bptc_decode(coded);
  EXPECT_TRUE(r.clean);
  EXPECT_EQ(r.info[0], 1);
  for (unsigned k = 1; k < 96; ++k) EXPECT_EQ(r.info[k], 0) << k;
}

TEST(DmrBurstDecoder, RandomLinkControlsRoundTrip) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    uint8_t lc[9];
    for (auto& v : lc) v = static_cast<uint8_t>(rng());
    const uint8_t cc = static_cast<uint8_t>(rng() % 16);
    const uint8_t dt = static_cast<uint8_t>(1 + rng() % 2);
    const dmrtest::Burst b = dmrtest::encode_lc_burst(lc, cc, dt);
    const dmrtest::LcBurst d = dmrtest::decode_lc_burst(b.data());
    ASSERT_TRUE(d.data_sync);
    ASSERT_EQ(d.slot.distance, 0);
    ASSERT_EQ(d.slot.colour_code, cc);
    ASSERT_EQ(d.slot.data_type, dt);
    ASSERT_EQ(d.bptc.failing_rows + d.bptc.failing_columns, 0u);
    ASSERT_TRUE(d.bptc.clean);
    ASSERT_TRUE(d.rs_ok);
    ASSERT_EQ(0, std::memcmp(d.lc.data(), lc, 9));
  }
}

TEST(DmrBurstDecoder, CorruptionIsNoticed) {
  const dmrtest::Burst good = burst_of(start_hyt);
  const dmrtest::LcBurst ref = dmrtest::decode_lc_burst(good.data());

  // Every single BPTC bit error shows as one failing row and one failing
  // column, whose crossing repairs it; the reserved leading bit lies outside
  // the matrix and is reported on its own.
  for (unsigned p = 0; p < 196; ++p) {
    dmrtest::Burst b = good;
    const unsigned k = dmrtest::bptc_burst_bit(p);
    dmrtest::set_bit(b.data(), k, !dmrtest::get_bit(b.data(), k));
    const dmrtest::LcBurst d = dmrtest::decode_lc_burst(b.data());
    if (p == dmrtest::bptc_interleave(0)) {
      EXPECT_FALSE(d.bptc.reserved_zero);
      EXPECT_EQ(d.bptc.failing_rows + d.bptc.failing_columns, 0u);
      continue;
    }
    ASSERT_EQ(d.bptc.failing_rows, 1u) << p;
    ASSERT_EQ(d.bptc.failing_columns, 1u) << p;
    ASSERT_TRUE(d.bptc.corrected) << p;
    ASSERT_TRUE(d.bptc.clean) << p;
    ASSERT_EQ(d.lc, ref.lc) << p;
    ASSERT_TRUE(d.rs_ok) << p;
  }

  // A sync bit error fails the sync; a slot type bit error costs distance.
  for (unsigned k = 98; k < 166; ++k) {
    dmrtest::Burst b = good;
    dmrtest::set_bit(b.data(), k, !dmrtest::get_bit(b.data(), k));
    const dmrtest::LcBurst d = dmrtest::decode_lc_burst(b.data());
    if (k >= 108 && k < 156) {
      EXPECT_FALSE(d.data_sync) << k;
      EXPECT_EQ(d.slot.distance, 0) << k;
    } else {
      EXPECT_TRUE(d.data_sync) << k;
      EXPECT_EQ(d.slot.distance, 1) << k;
    }
    EXPECT_EQ(d.bptc.failing_rows, 0u) << k;
  }

  // A changed LC octet under the old check octets, with BPTC parity made to
  // match, passes every Hamming check; only the RS check can catch it.
  uint8_t lc[9];
  std::memcpy(lc, ref.lc.data(), 9);
  lc[8] ^= 0x01;
  uint8_t octets[12];
  std::memcpy(octets, lc, 9);
  std::memcpy(octets + 9, ref.check.data(), 3);
  uint8_t info[96], coded[196];
  for (unsigned k = 0; k < 96; ++k) info[k] = static_cast<uint8_t>(dmrtest::get_bit(octets, k));
  dmrtest::bptc_encode(info, coded);
  dmrtest::Burst forged = good;
  for (unsigned p = 0; p < 196; ++p) dmrtest::set_bit(forged.data(), dmrtest::bptc_burst_bit(p), coded[p]);
  const dmrtest::LcBurst d = dmrtest::decode_lc_burst(forged.data());
  EXPECT_TRUE(d.bptc.clean);
  EXPECT_FALSE(d.rs_ok);
}

}  // namespace
