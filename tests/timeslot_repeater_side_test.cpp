// Timeslot 1 from the repeater: with Timeslots=1,2 a call and a position
// report on timeslot 1 cross exactly as on timeslot 2 but for the slot code
// and the log lines that say the slot, and calls on both slots at once come
// out as if each had been alone. Without the key timeslot 1 is ignored.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ipsc/control_packets.h"
#include "main/byte_order.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "support/test_support.h"
#include "support/voice_packets.h"
#include "voice/location_data.h"
#include "voice/moto_to_hytera.h"

namespace {

using voicetest::Bytes;
using voicetest::Call;

// One over: first header, repeated header, 13 bursts, terminator.
std::vector<Bytes> over(const Call& c, uint16_t first_sequence, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Bytes> d;
  uint16_t s = first_sequence;
  d.push_back(voicetest::moto_header(c, s++, MOTO_RTP_FIRST_HEADER));
  d.push_back(voicetest::moto_header(c, s++, MOTO_RTP_VOICE));
  for (unsigned i = 0; i < 13; ++i) d.push_back(voicetest::moto_burst(c, s++, i % 6 + 1, voicetest::random_burst(rng)));
  d.push_back(voicetest::moto_terminator(c, s));
  return d;
}

// A position report: data header and four blocks with the latitude's point at 17.
std::vector<Bytes> position_report(uint32_t source, bool slot2) {
  const char text[] = "abcdefghijklN5123.4567E00123.456 042Kabcdefghijklmnopqrstuvwxyz0123456789";
  std::vector<Bytes> d;
  for (int type : {6, 8, 8, 8, 8}) {
    Bytes p(64, 0);
    p[0] = IPSC_DATA_CALL;
    put_be32(p.data() + MOTO_OFS_PEER_ID, 12345);
    put_be24(p.data() + MOTO_OFS_SOURCE, source);
    put_be24(p.data() + MOTO_OFS_DESTINATION, 9);
    p[MOTO_OFS_CALL_FLAGS] = slot2 ? MOTO_FLAG_SLOT2 : 0;
    p[MOTO_OFS_BURST_TYPE] = static_cast<unsigned char>(type);
    const size_t block = d.size() > 1 ? d.size() - 2 : 0;  // the first block is skipped
    if (type == 8) memcpy(p.data() + MOTO_OFS_DATA_BLOCK, text + 16 * block, 16);
    d.push_back(p);
  }
  return d;
}

class TimeslotRepeaterSide : public ::testing::Test {
 protected:
  void SetUp() override {
    voicetest::prepare_repeater_voice(bridge_.fd(), master_.port());
    location_record_port = master_.port();
    reset_location_data();
    master_online = 1;
    Timeslots = TIMESLOT_1_BIT | TIMESLOT_2_BIT;
  }
  void TearDown() override {
    Local_Repeater_audio_srv_sock = -1;
    master_online = 0;
    Timeslots = TIMESLOTS_DEFAULT;
  }

  // Hands the datagrams to the receive loop's handlers from a fresh start.
  std::vector<Bytes> run(const std::vector<Bytes>& datagrams, std::string* log = nullptr) {
    reset_moto_to_hytera();
    reset_location_data();
    const std::string printed = capture_stdout([&] {
      for (const Bytes& d : datagrams) {
        const int length = static_cast<int>(d.size());
        if (d[0] == IPSC_DATA_CALL)
          handle_location_data(d.data(), length);
        else
          handle_moto_voice(d.data(), length);
      }
    });
    if (log) *log = printed;
    std::vector<Bytes> sent;
    // Loopback hands a datagram over within the send: nothing is in flight.
    for (Bytes p = master_.receive(0); !p.empty(); p = master_.receive(0)) sent.push_back(p);
    return sent;
  }

  LoopbackSocket bridge_;
  LoopbackSocket master_;
};

TEST_F(TimeslotRepeaterSide, Timeslot1CrossesAsTimeslot2ButForItsSlotCodeAndLines) {
  const Call on2{2620001, 9, false, true}, on1{2620001, 9, false, false};
  std::string log2, log1;
  const std::vector<Bytes> want = run(over(on2, 100, 1), &log2);
  const std::vector<Bytes> got = run(over(on1, 100, 1), &log1);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(hyt_slot(got[i].data()), 1u) << i;
    EXPECT_EQ(got[i][HYT_OFS_SLOT + 1], 0x11) << i;
    Bytes expected = want[i];
    hyt_set_slot(expected.data(), 1);
    EXPECT_EQ(got[i], expected) << i;
  }
  EXPECT_NE(log2.find(" Moto RX+ slot:2 destination_id:9 source_id:2620001 rptr_id:12345\n"), std::string::npos);
  EXPECT_NE(log2.find(" Moto RX- ID:2620001\n"), std::string::npos);
  EXPECT_NE(log1.find(" Moto RX+ slot:1 destination_id:9 source_id:2620001 rptr_id:12345\n"), std::string::npos);
  EXPECT_NE(log1.find(" Moto RX- ID:2620001 slot:1\n"), std::string::npos);

  // Positions: the same record, the line says the slot.
  const std::vector<Bytes> record2 = run(position_report(2620007, true), &log2);
  const std::vector<Bytes> record1 = run(position_report(2620007, false), &log1);
  ASSERT_EQ(record1.size(), 1u);
  EXPECT_EQ(record1, record2);
  EXPECT_NE(log2.find(" RPT:12345\r\n"), std::string::npos) << log2;
  EXPECT_NE(log1.find(" RPT:12345 slot:1\r\n"), std::string::npos) << log1;

  // Only the configured slots cross.
  for (uint8_t slots : {TIMESLOTS_DEFAULT, TIMESLOT_1_BIT}) {
    Timeslots = slots;
    const bool one = slots & TIMESLOT_1_BIT;
    EXPECT_EQ(run(over(on1, 100, 1)).size(), one ? want.size() : 0u);
    EXPECT_EQ(run(over(on2, 100, 1)).size(), one ? 0u : want.size());
    EXPECT_EQ(run(position_report(2620007, false)).size(), one ? 1u : 0u);
  }
}

TEST_F(TimeslotRepeaterSide, CallsAndReportsOnBothSlotsAtOnceComeOutAsIfAlone) {
  // Two overs of different talkers, sequence numbers that collide, and a
  // report on each slot, interleaved datagram by datagram; then a burst of
  // an unknown type on each slot repeats that slot's own last packet.
  const Call a{2620001, 9, false, false}, b{2620002, 91, true, true};
  std::vector<Bytes> alone_a = over(a, 500, 3), alone_b = over(b, 500, 4);
  for (const Bytes& d : position_report(2620011, false)) alone_a.push_back(d);
  for (const Bytes& d : position_report(2620012, true)) alone_b.push_back(d);
  Bytes odd_a = alone_a[5], odd_b = alone_b[5];
  odd_a[MOTO_OFS_BURST_TYPE] = odd_b[MOTO_OFS_BURST_TYPE] = 3;
  alone_a.push_back(odd_a);
  alone_b.push_back(odd_b);
  const std::vector<Bytes> want_a = run(alone_a), want_b = run(alone_b);
  std::vector<Bytes> mixed;
  for (size_t i = 0; i < alone_a.size(); ++i) {
    mixed.push_back(alone_a[i]);
    mixed.push_back(alone_b[i]);
  }
  std::vector<Bytes> got_a, got_b, records;
  for (const Bytes& p : run(mixed)) {
    // Location records have no slot field.
    if (p.size() != HYT_PACKET_LEN)
      records.push_back(p);
    else
      (hyt_slot(p.data()) == 1 ? got_a : got_b).push_back(p);
  }
  auto only = [](std::vector<Bytes> v, bool voice) {
    std::erase_if(v, [&](const Bytes& p) { return (p.size() == HYT_PACKET_LEN) != voice; });
    return v;
  };
  EXPECT_EQ(got_a, only(want_a, true));
  EXPECT_EQ(got_b, only(want_b, true));
  EXPECT_EQ(records, (std::vector<Bytes>{only(want_a, false).at(0), only(want_b, false).at(0)}));
  const std::vector<Bytes> voice_a = only(want_a, true);
  EXPECT_EQ(voice_a.back(), voice_a[voice_a.size() - 2]) << "the odd burst repeats the slot's own end packet";
}

}  // namespace
