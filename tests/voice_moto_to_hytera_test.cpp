// Calls from the Motorola repeater to the network master, one datagram at a
// time through the handler the receive loop runs.
#include "voice/moto_to_hytera.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "coding/decode48bit.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "../sim/common/dmr_burst_decoder.h"
#include "support/test_support.h"
#include "support/voice_packets.h"

namespace {

using voicetest::Bytes;
using voicetest::Call;

struct Outcome {
  int result;
  std::string log;
  std::vector<Bytes> sent;
};

class MotoToHytera : public ::testing::Test {
 protected:
  void SetUp() override {
    voicetest::prepare_repeater_voice(bridge_.fd(), master_.port());
    master_online = 0;  // voice crosses whether or not the master is logged in
  }
  void TearDown() override { Local_Repeater_audio_srv_sock = -1; }

  Outcome deliver(const Bytes& d) {
    Outcome o{};
    o.log = capture_stdout([&] { o.result = handle_moto_voice(d.data(), static_cast<int>(d.size())); });
    o.sent = master_.drain_from(bridge_.port(), 4);
    return o;
  }

  LoopbackSocket bridge_;
  LoopbackSocket master_;
};

// The 48 bits between the voice halves: sync in A, EMB and embedded signalling in B..F.
uint64_t centre_of(const Bytes& p) {
  unsigned char bits[48];
  hyt_read_burst_bits(p.data(), HYT_BIT_CENTRE, 48, bits);
  uint64_t v = 0;
  for (unsigned char b : bits) v = v << 1 | b;
  return v;
}

TEST_F(MotoToHytera, CallCrossesAsSyncHeaderSuperframesAndEnd) {
  std::mt19937 rng(7);
  const Call call{0x123456, 0x00ABCD, false, true};

  // A first header whose RTP sequence is 0 is no duplicate.
  Outcome sync = deliver(voicetest::moto_header(call, 0, 0xDD));
  ASSERT_EQ(sync.sent.size(), 1u);
  EXPECT_EQ(sync.sent[0][HYT_OFS_KIND], HYT_KIND_SYNC);
  EXPECT_EQ(hyt_frame_type(sync.sent[0].data()), HYT_FT_SYNC);
  EXPECT_EQ(hyt_destination(sync.sent[0].data()), 0x00ABCDu);
  EXPECT_EQ(hyt_source(sync.sent[0].data()), 0x123456u);
  EXPECT_EQ(Bytes({sync.sent[0][38], sync.sent[0][40], sync.sent[0][42]}), Bytes({0x12, 0x34, 0x56}));
  EXPECT_NE(sync.log.find(" Moto RX+ slot:2 destination_id:43981 source_id:1193046 rptr_id:12345\n"),
            std::string::npos);

  Outcome header = deliver(voicetest::moto_header(call, 0x0102, 0x5D));
  ASSERT_EQ(header.sent.size(), 1u);
  EXPECT_EQ(hyt_frame_type(header.sent[0].data()), HYT_FT_VOICE_HEADER);
  EXPECT_EQ(Bytes(header.sent[0].begin() + 4, header.sent[0].begin() + 6), Bytes({0x02, 0x01}));
  EXPECT_EQ(header.log, "");

  // Seven bursts: A..F, then A again without the flag, from the template's sync.
  const unsigned char expected_types[7] = {0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0x77};
  const int lcss_of[7] = {-1, 1, 3, 3, 2, 0, -1};
  unsigned char head[3], dest[3], src[3];
  int lc_result = 2;
  for (unsigned int i = 0; i < 7; ++i) {
    const voicetest::BurstFrames frames = voicetest::random_burst(rng);
    Outcome b = deliver(voicetest::moto_burst(call, static_cast<uint16_t>(0x0103 + i), i == 6 ? 2 : i + 1, frames));
    ASSERT_EQ(b.sent.size(), 1u) << i;
    const Bytes& p = b.sent[0];
    EXPECT_EQ(hyt_frame_type(p.data()), expected_types[i]) << i;
    EXPECT_EQ(hyt_sequence(p.data()), 0x0103 + i);
    EXPECT_EQ(hyt_call_type(p.data()), HYT_CALL_GROUP);
    EXPECT_EQ(hyt_source(p.data()), 0x123456u) << i;
    EXPECT_EQ(hyt_destination(p.data()), 0x00ABCDu) << i;
    voicetest::BurstFrames decoded{};
    ASSERT_TRUE(voicetest::decode_hytera_frames(p, &decoded)) << i;
    EXPECT_EQ(decoded, frames) << i;
    const uint64_t centre = centre_of(p);
    if (lcss_of[i] < 0) {
      EXPECT_EQ(centre, dmrtest::kVoiceSyncBs) << i;
      continue;
    }
    const uint16_t emb = static_cast<uint16_t>((centre >> 40) << 8 | (centre & 0xFF));
    EXPECT_EQ(emb, dmrtest::emb_codeword(1, 0, static_cast<uint8_t>(lcss_of[i]))) << i;
    unsigned char fragment[32];
    hyt_get_embedded_signalling(p.data(), fragment);
    if (lcss_of[i] == 0) {
      EXPECT_EQ(Bytes(fragment, fragment + 32), Bytes(32, 0));
    } else {
      capture_stdout([&] { lc_result = addData(fragment, lcss_of[i], head, dest, src); });
    }
  }
  // The four fragments of B..E are the group-call link control of the call.
  EXPECT_EQ(lc_result, 1);
  EXPECT_EQ(Bytes(head, head + 3), Bytes({0, 0, 0}));
  EXPECT_EQ(Bytes(dest, dest + 3), Bytes({0x00, 0xAB, 0xCD}));
  EXPECT_EQ(Bytes(src, src + 3), Bytes({0x12, 0x34, 0x56}));

  Outcome end = deliver(voicetest::moto_terminator(call, 0x010A));
  ASSERT_EQ(end.sent.size(), 1u);
  EXPECT_EQ(end.sent[0][HYT_OFS_KIND], HYT_KIND_END);
  EXPECT_EQ(hyt_frame_type(end.sent[0].data()), HYT_FT_TERMINATOR);
  EXPECT_NE(end.log.find(" Moto RX- ID:1193046\n"), std::string::npos);
}

TEST_F(MotoToHytera, PrivateCallKeepsAGroupLinkControl) {
  std::mt19937 rng(3);
  const Call call{1001, 2002, true, true};
  deliver(voicetest::moto_header(call, 1, 0xDD));
  unsigned char head[3] = {9, 9, 9}, dest[3], src[3];
  int lc_result = 2;
  for (unsigned int position = 1; position <= 6; ++position) {
    Outcome b = deliver(
        voicetest::moto_burst(call, static_cast<uint16_t>(1 + position), position, voicetest::random_burst(rng)));
    ASSERT_EQ(b.sent.size(), 1u);
    EXPECT_EQ(hyt_call_type(b.sent[0].data()), HYT_CALL_PRIVATE);
    unsigned char fragment[32];
    hyt_get_embedded_signalling(b.sent[0].data(), fragment);
    const int lcss[7] = {0, -1, 1, 3, 3, 2, 0};
    if (lcss[position] > 0) capture_stdout([&] { lc_result = addData(fragment, lcss[position], head, dest, src); });
  }
  EXPECT_EQ(lc_result, 1);
  EXPECT_EQ(Bytes(head, head + 3), Bytes({0, 0, 0}));  // FLCO 0: group call
}

TEST_F(MotoToHytera, DuplicatesAreDroppedAndEndTheTurn) {
  std::mt19937 rng(1);
  const Call call;
  EXPECT_EQ(deliver(voicetest::moto_burst(call, 0, 1, voicetest::random_burst(rng))).sent.size(), 1u);
  Outcome again = deliver(voicetest::moto_burst(call, 0, 2, voicetest::random_burst(rng)));
  EXPECT_EQ(again.result, 0);
  EXPECT_TRUE(again.sent.empty());
  EXPECT_EQ(deliver(voicetest::moto_burst(call, 1, 2, voicetest::random_burst(rng))).sent.size(), 1u);
  // A header repeating the sequence of the burst before it is a duplicate too.
  Outcome header = deliver(voicetest::moto_header(call, 1, 0xDD));
  EXPECT_EQ(header.result, 0);
  EXPECT_TRUE(header.sent.empty());
  EXPECT_EQ(header.log, "");

  // Only a repeat of the last number is a duplicate: the RTP sequence wraps
  // from 65535 to 0, and a restarted repeater numbers from lower again.
  const struct {
    uint16_t sequence;
    bool forwarded;
  } stream[] = {{65534, true}, {65535, true}, {65535, false}, {0, true},  {1, true},
                {1, false},    {900, true},   {3, true},      {3, false}, {2, true}};
  for (const auto& c : stream)
    EXPECT_EQ(deliver(voicetest::moto_burst(call, c.sequence, 3, voicetest::random_burst(rng))).sent.size(),
              c.forwarded ? 1u : 0u)
        << c.sequence;
}

TEST_F(MotoToHytera, SuperframePositionFollowsTheBurstAFlag) {
  std::mt19937 rng(5);
  const Call call;
  // Positions as sent (1 = flagged A); the frame types that must come out.
  const unsigned int sent_positions[] = {3, 4, 1, 2, 3, 2, 2, 2, 2, 2};
  const unsigned char expected[] = {0x77, 0x88, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0x77, 0x88};
  for (size_t i = 0; i < std::size(sent_positions); ++i) {
    Outcome b = deliver(
        voicetest::moto_burst(call, static_cast<uint16_t>(10 + i), sent_positions[i], voicetest::random_burst(rng)));
    ASSERT_EQ(b.sent.size(), 1u);
    EXPECT_EQ(hyt_frame_type(b.sent[0].data()), expected[i]) << i;
  }
}

TEST_F(MotoToHytera, UnknownBurstTypesRepeatTheLastPacketOnceOneWasBuilt) {
  const Call call;
  Bytes odd = voicetest::moto_header(call, 5, 0xDD);
  odd[MOTO_OFS_BURST_TYPE] = 3;
  Bytes bad_marker = voicetest::moto_header(call, 6, 0x00);
  // Nothing built since start: nothing to repeat.
  EXPECT_TRUE(deliver(odd).sent.empty());
  EXPECT_TRUE(deliver(bad_marker).sent.empty());

  Outcome sync = deliver(voicetest::moto_header(call, 7, 0xDD));
  ASSERT_EQ(sync.sent.size(), 1u);
  for (const Bytes& d : {odd, bad_marker}) {
    Outcome again = deliver(d);
    ASSERT_EQ(again.sent.size(), 1u);
    EXPECT_EQ(again.sent[0], sync.sent[0]);
    EXPECT_EQ(again.result, 1);
  }
}

TEST_F(MotoToHytera, TimeslotOneAndTruncatedDatagramsAreIgnored) {
  std::mt19937 rng(9);
  Call slot1;
  slot1.slot2 = false;
  EXPECT_TRUE(deliver(voicetest::moto_header(slot1, 1, 0xDD)).sent.empty());
  EXPECT_TRUE(deliver(voicetest::moto_burst(slot1, 2, 1, voicetest::random_burst(rng))).sent.empty());

  // A burst needs its voice field whole (52 bytes), header and terminator
  // their burst type (31 bytes).
  const Call call;
  struct Case {
    Bytes datagram;
    size_t too_short;
  } cases[] = {{voicetest::moto_burst(call, 3, 1, voicetest::random_burst(rng)), 51},
               {voicetest::moto_header(call, 4, 0xDD), 30},
               {voicetest::moto_terminator(call, 5), 30}};
  for (Case& c : cases) {
    Bytes cut(c.datagram.begin(), c.datagram.begin() + static_cast<long>(c.too_short));
    EXPECT_TRUE(deliver(cut).sent.empty()) << c.too_short;
    cut.push_back(c.datagram[c.too_short]);
    EXPECT_EQ(deliver(cut).sent.size(), 1u) << c.too_short + 1;
  }
}

}  // namespace
