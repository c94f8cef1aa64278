// Overs from radios that send talker alias: the repeater starts a new IPSC
// stream every superframe, and on alias superframes the datagram's own
// identifiers and burst E's link control hold alias text. Every packet the
// bridge sends must carry the over's real identity, and its embedded link
// control must be built from it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "coding/decode48bit.h"
#include "main/byte_order.h"
#include "main/config.h"
#include "main/sockets.h"
#include "support/test_support.h"
#include "support/voice_packets.h"
#include "voice/moto_call_lock.h"
#include "voice/moto_to_hytera.h"

namespace {

using voicetest::Bytes;
using voicetest::Call;

int64_t fake_now_ms = 0;
int64_t fake_clock() { return fake_now_ms; }

// Alias text as the repeater puts it where identifiers belong: "DL1" as the
// destination, "XY\0" as the source.
constexpr uint32_t kAliasDestination = 0x444C31, kAliasSource = 0x585900;

// What a repeater sends for one over: the call sequence byte rises every
// superframe, the RTP timestamp runs on by 480 per datagram.
class Over {
 public:
  Over(const Call& real, uint16_t first_sequence, uint32_t first_timestamp)
      : real_(real), sequence_(first_sequence), timestamp_(first_timestamp) {}

  Over& header(unsigned char marker) { return add(voicetest::moto_header(real_, sequence_, marker)); }
  Over& terminator() { return add(voicetest::moto_terminator(real_, sequence_)); }
  // Bursts `from`..6 of one superframe; on an alias superframe burst E
  // carries talker-alias link control `alias_flco`, otherwise the voice one.
  Over& superframe(bool alias, unsigned char alias_flco = MOTO_FLCO_ALIAS_FIRST, unsigned int from = 1) {
    Call c = real_;
    if (alias) {
      c.source = kAliasSource;
      c.destination = kAliasDestination;
    }
    for (unsigned int position = from; position <= 6; ++position) {
      Bytes d = voicetest::moto_burst(c, sequence_, position, voicetest::random_burst(rng_));
      if (position == 5) {
        d[MOTO_OFS_E_FLCO] =
            alias ? alias_flco : (real_.private_call ? MOTO_FLCO_UNIT_TO_UNIT_VOICE : MOTO_FLCO_GROUP_VOICE);
        moto_set_burst_e_identifiers(d.data(), c.destination, c.source);
      }
      add(d);
    }
    ++call_sequence_;
    return *this;
  }
  const std::vector<Bytes>& datagrams() const { return datagrams_; }
  uint16_t next_sequence() const { return sequence_; }

 private:
  Over& add(Bytes d) {
    d[MOTO_OFS_CALL_SEQ] = call_sequence_;
    moto_set_rtp_timestamp(d.data(), timestamp_);
    datagrams_.push_back(d);
    ++sequence_;
    timestamp_ += 480;
    return *this;
  }

  Call real_;
  uint16_t sequence_;
  uint32_t timestamp_;
  unsigned char call_sequence_ = 40;
  std::mt19937 rng_{11};
  std::vector<Bytes> datagrams_;
};

class CallIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    voicetest::prepare_repeater_voice(bridge_.fd(), master_.port());
    fake_now_ms = 100000;
    moto_rx_clock_ms = fake_clock;
  }
  void TearDown() override { Local_Repeater_audio_srv_sock = -1; }

  // Hands every datagram over 60 ms apart; returns what reached the master.
  std::vector<Bytes> deliver(const Over& over) {
    log_ += capture_stdout([&] {
      for (const Bytes& d : over.datagrams()) {
        fake_now_ms += 60;
        handle_moto_voice(d.data(), static_cast<int>(d.size()));
      }
    });
    return master_.drain_from(bridge_.port(), 200);
  }

  LoopbackSocket bridge_;
  LoopbackSocket master_;
  std::string log_;
};

// Every packet carries `real`; each superframe's fragments in B..E decode to
// a group link control of it. Returns the number of link controls decoded.
int expect_identity(const std::vector<Bytes>& sent, const Call& real) {
  const int lcss_of_position[7] = {0, -1, 1, 3, 3, 2, 0};
  unsigned char head[3], destination[3], source[3];
  int decoded = 0;
  for (const Bytes& p : sent) {
    EXPECT_EQ(hyt_source(p.data()), real.source) << hyt_sequence(p.data());
    EXPECT_EQ(hyt_destination(p.data()), real.destination) << hyt_sequence(p.data());
    EXPECT_EQ(hyt_call_type(p.data()), real.private_call ? HYT_CALL_PRIVATE : HYT_CALL_GROUP);
    const unsigned int position = hyt_voice_position(hyt_frame_type(p.data()));
    if (position < 2 || position > 5) continue;
    unsigned char fragment[32];
    hyt_get_embedded_signalling(p.data(), fragment);
    int result = 2;
    capture_stdout([&] { result = addData(fragment, lcss_of_position[position], head, destination, source); });
    if (result == 2) continue;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Bytes(head, head + 3), Bytes({0, 0, 0}));
    EXPECT_EQ(get_be24(destination), real.destination);
    EXPECT_EQ(get_be24(source), real.source);
    ++decoded;
  }
  return decoded;
}

int count_frame_type(const std::vector<Bytes>& sent, unsigned char frame_type) {
  int n = 0;
  for (const Bytes& p : sent) n += hyt_frame_type(p.data()) == frame_type;
  return n;
}

TEST_F(CallIdentity, AnOverWithTalkerAliasCrossesAsOneCallUnderItsRealIdentity) {
  for (const Call& real : {Call{2620777, 91, false, true}, Call{2620777, 2621234, true, true}}) {
    reset_moto_to_hytera();
    log_.clear();
    Over over(real, 500, 0xFFFFF000);  // the timestamp wraps during the over
    over.header(MOTO_RTP_FIRST_HEADER).header(MOTO_RTP_VOICE);
    for (int n = 0; n < 10; ++n)
      over.superframe(n % 2 == 1, static_cast<unsigned char>(MOTO_FLCO_ALIAS_FIRST + n / 2 % 4));
    over.terminator();

    const std::vector<Bytes> sent = deliver(over);
    ASSERT_EQ(sent.size(), over.datagrams().size());
    EXPECT_EQ(expect_identity(sent, real), 10);
    EXPECT_EQ(count_frame_type(sent, HYT_FT_SYNC), 1);
    EXPECT_EQ(count_frame_type(sent, HYT_FT_VOICE_HEADER), 1);
    EXPECT_EQ(count_frame_type(sent, HYT_FT_TERMINATOR), 1);
    EXPECT_EQ(count_occurrences(log_, "Moto RX+"), 1);
    EXPECT_NE(log_.find(" Moto RX+ slot:2 destination_id:" + std::to_string(real.destination) +
                        " source_id:2620777 rptr_id:12345\n"),
              std::string::npos);
    EXPECT_EQ(count_occurrences(log_, " Moto RX- ID:2620777\n"), 1);
    EXPECT_EQ(log_.find(std::to_string(kAliasSource)), std::string::npos);
    EXPECT_EQ(log_.find(std::to_string(kAliasDestination)), std::string::npos);
  }
}

TEST_F(CallIdentity, ALateEntryThatMeetsAliasFirstWaitsForTheVoiceLinkControl) {
  for (const Call& real : {Call{3100001, 3100, false, true}, Call{3100001, 3100002, true, true}}) {
    reset_moto_to_hytera();
    // Joined at an alias superframe's burst E; the voice link control comes
    // with the next superframe's E.
    Over over(real, 900, 4800);
    over.superframe(true, MOTO_FLCO_ALIAS_FIRST, 5).superframe(false).superframe(true, 0x05).terminator();
    const uint16_t real_e = 900 + 2 + 4;

    const std::vector<Bytes> sent = deliver(over);
    ASSERT_EQ(sent.size(), over.datagrams().size() - 6u);
    EXPECT_EQ(hyt_sequence(sent[0].data()), real_e);
    EXPECT_EQ(hyt_frame_type(sent[0].data()), HYT_FT_BURST_E);
    EXPECT_EQ(hyt_frame_type(sent[1].data()), HYT_FT_BURST_F);
    EXPECT_EQ(expect_identity(sent, real), 1);  // the superframe after the wait is whole
  }
}

TEST_F(CallIdentity, ANewCallAfterTheTerminatorTakesItsOwnIdentity) {
  const Call first{2620001, 9, false, true}, second{2620002, 262, false, true};
  Over one(first, 100, 48000);
  one.header(MOTO_RTP_FIRST_HEADER).superframe(false).superframe(true).terminator();
  EXPECT_EQ(expect_identity(deliver(one), first), 2);

  Over two(second, one.next_sequence(), 96000);
  two.header(MOTO_RTP_FIRST_HEADER).superframe(false).superframe(true).superframe(false).terminator();
  const std::vector<Bytes> sent = deliver(two);
  ASSERT_EQ(sent.size(), two.datagrams().size());
  EXPECT_EQ(expect_identity(sent, second), 3);
  EXPECT_EQ(count_occurrences(log_, "Moto RX+"), 2);
  EXPECT_NE(log_.find(" Moto RX- ID:2620001\n"), std::string::npos);
  EXPECT_NE(log_.find(" Moto RX- ID:2620002\n"), std::string::npos);
}

// The path's clock decides the time-out: a burst of another identity, its
// timestamp leaping, within the same stream, at the time-out and past it.
TEST_F(CallIdentity, TheTimeOutFollowsThePathsClock) {
  const Call real{2620001, 9, false, true}, other{2629999, 99, false, true};
  for (const auto& c : {std::pair<int64_t, uint32_t>{MOTO_CALL_TIMEOUT_MS, real.source},
                        std::pair<int64_t, uint32_t>{MOTO_CALL_TIMEOUT_MS + 1, other.source}}) {
    reset_moto_to_hytera();
    Over over(real, 10, 0);
    over.header(MOTO_RTP_FIRST_HEADER);
    deliver(over);
    Over later(other, 20, 10 * MOTO_TIMESTAMP_WINDOW);
    later.superframe(false, 0, 6);
    fake_now_ms += c.first - 60;
    const std::vector<Bytes> sent = deliver(later);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(hyt_source(sent[0].data()), c.second) << c.first;
  }
}

// Burst E's link control is read only from a burst E that holds it whole;
// its FLCO without the protect flag.
TEST(MotoBurstELinkControl, IsReadFromAWholeBurstEOnly) {
  std::mt19937 rng(2);
  Bytes e = voicetest::moto_burst(Call{}, 1, 5, voicetest::random_burst(rng));
  e[MOTO_OFS_E_FLCO] = 0x80 | MOTO_FLCO_UNIT_TO_UNIT_VOICE;
  moto_set_burst_e_identifiers(e.data(), 0x0A0B0C, 0x010203);
  Bytes d_burst = voicetest::moto_burst(Call{}, 1, 4, voicetest::random_burst(rng));
  d_burst.resize(e.size());
  const struct {
    const Bytes* datagram;
    long length;
    bool read;
  } cases[] = {{&e, 65, true}, {&e, 64, false}, {&e, -1, false}, {&d_burst, 76, false}};
  for (const auto& c : cases) {
    unsigned char flco = 0xFF;
    uint32_t destination = 0, source = 0;
    EXPECT_EQ(moto_get_burst_e_lc(c.datagram->data(), c.length, &flco, &destination, &source), c.read) << c.length;
    if (!c.read) continue;
    EXPECT_EQ(flco, MOTO_FLCO_UNIT_TO_UNIT_VOICE);
    EXPECT_EQ(destination, 0x0A0B0Cu);
    EXPECT_EQ(source, 0x010203u);
  }
}

// Where a call ends and the next begins, judged on the lock alone: a call
// locked to `real` (and ended by its terminator where so marked), then a
// burst with identifiers of its own `after_ms` later.
TEST(MotoCallJudge, CallBoundariesFollowTheTimestampAndTheTimeOut) {
  constexpr uint32_t kReal = 2620001, kOther = 4242;
  constexpr int64_t kWindow = MOTO_TIMESTAMP_WINDOW;
  const struct {
    const char* what;
    bool terminated;
    int64_t after_ms;
    int call_sequence_step;
    int64_t timestamp_step;
    bool same_call;
  } cases[] = {
      {"new stream, timestamp runs on", false, 60, 1, 480, true},
      {"new stream after lost datagrams", false, 60, 1, 480 * 20, true},
      {"new stream at the window's edge", false, 60, 1, kWindow, true},
      {"new stream, timestamp leaps", false, 60, 1, kWindow + 1, false},
      {"new stream, timestamp goes back", false, 60, 1, -480, false},
      {"new stream, timestamp repeats", false, 60, 1, 0, true},
      {"same stream, timestamp leaps", false, 60, 0, 10 * kWindow, true},
      {"silent up to the time-out", false, MOTO_CALL_TIMEOUT_MS, 0, 10 * kWindow, true},
      {"silent beyond the time-out", false, MOTO_CALL_TIMEOUT_MS + 1, 0, 10 * kWindow, false},
      {"beyond the time-out, timestamp runs on", false, MOTO_CALL_TIMEOUT_MS + 1, 0, 480, true},
      {"after the terminator, timestamp runs on", true, 60, 1, 480, true},
      {"after the terminator, timestamp repeats", true, 60, 1, 0, false},
      {"after the terminator, timestamp leaps", true, 60, 0, kWindow + 1, false},
  };
  for (const auto& c : cases) {
    MotoCallFacts f;
    f.kind = MotoDatagramKind::kHeader;
    f.call_sequence = 7;
    f.timestamp = 1000;
    f.source = kReal;
    f.destination = 9;
    MotoCallLock lock = moto_call_judge(MotoCallLock{}, f, 0).next;
    if (c.terminated) {
      f.kind = MotoDatagramKind::kTerminator;
      f.timestamp += 480;
      lock = moto_call_judge(lock, f, 0).next;
    }
    f.kind = MotoDatagramKind::kBurst;
    f.call_sequence = static_cast<uint8_t>(7 + c.call_sequence_step);
    f.timestamp = static_cast<uint32_t>(f.timestamp + c.timestamp_step);
    f.source = kOther;
    f.destination = kOther;
    const MotoCallVerdict v = moto_call_judge(lock, f, c.after_ms);
    EXPECT_TRUE(v.forward) << c.what;
    EXPECT_EQ(v.source, c.same_call ? kReal : kOther) << c.what;
    EXPECT_EQ(v.destination, c.same_call ? 9u : kOther) << c.what;
  }
}

// A late entry: what burst E's link control makes of a call not locked yet.
TEST(MotoCallJudge, OnlyAVoiceLinkControlLocksALateEntry) {
  const struct {
    uint8_t flco;
    uint32_t lc_source;
    bool forward;
    bool locked;
  } cases[] = {
      {MOTO_FLCO_GROUP_VOICE, 5001, true, true},
      {MOTO_FLCO_UNIT_TO_UNIT_VOICE, 5001, true, true},
      {MOTO_FLCO_GROUP_VOICE, 0, true, false},
      {0x01, 5001, true, false},
      {MOTO_FLCO_ALIAS_FIRST, 5001, false, false},
      {MOTO_FLCO_ALIAS_LAST, 5001, false, false},
      {0x09, 5001, true, false},
  };
  for (const auto& c : cases) {
    MotoCallFacts f;
    f.call_sequence = 3;
    f.source = 77;
    f.destination = 78;
    f.has_lc = true;
    f.flco = c.flco;
    f.lc_source = c.lc_source;
    f.lc_destination = 5002;
    const MotoCallVerdict v = moto_call_judge(MotoCallLock{}, f, 0);
    EXPECT_EQ(v.forward, c.forward) << int{c.flco};
    EXPECT_EQ(v.source, c.locked ? 5001u : 77u) << int{c.flco};
    EXPECT_EQ(v.next.phase == MotoCallPhase::kOpen, c.locked) << int{c.flco};
  }
}

}  // namespace
