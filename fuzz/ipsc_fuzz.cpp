// The Motorola-side receive loop: every datagram the thread that reads the
// repeater's socket handles (control opcodes, voice 0x80/0x81, data 0x84),
// as sequences, since the voice and position-report paths keep state from
// one datagram to the next.
//
// Every datagram passes the signature check first, as in the daemon. The
// harness signs what it hands over (its last 10 bytes become the trailer),
// so the handlers behind the check are reached; a control bit leaves a
// datagram as it stands, which the check must then drop unless its trailer
// happens to be right.
//
// Record format (fuzz_support.h): the length byte is the datagram's real
// length (beyond the 224-byte receive buffer only its first 224 bytes are
// kept, and the check must drop it); control bits 0..5 count 16-turn steps
// of empty receives before the datagram, so the keep-alive every 1000 turns
// comes into play; bit 6: not signed by the harness; bit 7: sent by another
// peer (127.0.0.2) rather than the repeater. A datagram carrying the
// bridge's own peer identifier is one of its own sent back, and dropped.
// The voice path's clock moves 5 ms a turn, as the thread's loop does, so a
// run of empty turns reaches the call time-out the same way every time.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "coding/decode48bit.h"
#include "fuzz_support.h"
#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/supervision.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/moto_to_hytera.h"

namespace {

int64_t now_ms = 0;
int64_t turn_clock() { return now_ms; }
constexpr int64_t kTurnMs = 5;

// The Hytera packet built last from a Motorola voice burst: its three frames
// decode without a single correction (they came out of the encoder), and
// bursts B..E carry the fragment of the call's own embedded link control.
void check_built_packet() {
  for (size_t i = HYT_PACKET_LEN; i < sizeof sendhyt; ++i) FUZZ_CHECK(sendhyt[i] == 0);
  const unsigned position = hyt_voice_position(hyt_frame_type(sendhyt));
  if (position == 0 || hyt_kind(sendhyt) != HYT_KIND_VOICE) return;
  for (unsigned n = 0; n < 3; ++n) {
    unsigned char frame[72], voice[49];
    FUZZ_CHECK(hyt_get_ambe_frame(sendhyt, n, frame));
    char err_a = -1, err_b = -1;
    decodiere_AMBEplus2_33(frame, &err_a, &err_b, 2, voice);
    FUZZ_CHECK(err_a == 0 && err_b == 0);
  }
  if (position < 2 || position > 5) return;
  const uint32_t destination = hyt_destination(sendhyt), source = hyt_source(sendhyt);
  unsigned char head[3] = {0, 0, 0};
  unsigned char dest[3] = {static_cast<unsigned char>(destination >> 16), static_cast<unsigned char>(destination >> 8),
                           static_cast<unsigned char>(destination)};
  unsigned char src[3] = {static_cast<unsigned char>(source >> 16), static_cast<unsigned char>(source >> 8),
                          static_cast<unsigned char>(source)};
  unsigned char block[128], embedded[32];
  encode_MultiBlockEmbeddedLC(head, dest, src, block);
  hyt_get_embedded_signalling(sendhyt, embedded);
  FUZZ_CHECK(memcmp(embedded, block + 32 * (position - 2), 32) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_prepare_bridge();
  fuzz_quiet_stdout();
  moto_rx_clock_ms = turn_clock;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every input is one run of the thread from its start.
  master_online = 1;
  motorola_repeater_online = 0;
  now_ms = 0;
  ipsc_thread_start();

  sockaddr_in repeater{};
  repeater.sin_family = AF_INET;
  repeater.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  repeater.sin_port = htons(50000);
  sockaddr_in other_peer = repeater;
  other_peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
  other_peer.sin_port = htons(50001);
  set_fromUser2(repeater);

  // The repeater's peer identifier as its registration reply or peer list
  // named it, and the refreshes of the link against the requests that may
  // have gone out: the registration request and one keep-alive request per
  // 1000 turns at most.
  bool repeater_id_known = false;
  uint32_t repeater_id = 0;
  // A 26-byte keep-alive reply teaches the identifier only when it was let
  // in, which depends on the requests outstanding: until the next reply or
  // peer list the harness does not know which identifier the bridge holds.
  bool repeater_id_sure = true;
  long turns = 0;
  long refreshes = 0;

  FuzzRecords records(data, size);
  FuzzRecord record;
  while (records.next(&record)) {
    for (unsigned turn = 0; turn < (record.control & 63u) * 16u; ++turn) {
      // Empty turns: the socket is -1, so the receive finds nothing.
      now_ms += kTurnMs;
      FUZZ_CHECK(ipsc_turn() == 1);
      ++turns;
    }
    const int length = static_cast<int>(record.size);
    const size_t kept = record.size < IPSC_RECEIVE_LIMIT ? record.size : IPSC_RECEIVE_LIMIT;
    memset(sendBuffer, 0, sizeof sendBuffer);
    memcpy(sendBuffer, record.data, kept);
    if (!(record.control & 64) && record.size <= IPSC_RECEIVE_LIMIT) fuzz_sign(sendBuffer, kept);
    const bool from_repeater = !(record.control & 128);
    const sockaddr_in& sender = from_repeater ? repeater : other_peer;
    const unsigned char opcode = sendBuffer[0];
    const unsigned char peer_bytes = sendBuffer[6];
    const uint32_t peer_id =
        static_cast<uint32_t>(sendBuffer[1]) << 24 | sendBuffer[2] << 16 | sendBuffer[3] << 8 | sendBuffer[4];
    const bool signature_ok = record.size <= IPSC_RECEIVE_LIMIT && kept > 10 && fuzz_signature_ok(sendBuffer, kept);
    // The bridge's own datagrams sent back are dropped like forged ones.
    const bool trusted = signature_ok && memcmp(sendBuffer + 1, MyBridgeID, sizeof MyBridgeID) != 0;
    if (trusted && from_repeater && (length == 26 || (length > 16 && opcode == 0x93))) {
      repeater_id_known = true;
      repeater_id = peer_id;
      repeater_id_sure = opcode != 0x97;
    }
    const bool the_repeaters =
        trusted && from_repeater && (!repeater_id_sure || !repeater_id_known || peer_id == repeater_id);
    sockaddr_in last_before{};
    FUZZ_CHECK(get_fromUser2(&last_before));
    motorola_repeater_online = 0;

    now_ms += kTurnMs;
    int goes_on = ipsc_handle_datagram(length, sender);

    // Only the repeater's own trusted datagrams move where replies and voice go.
    sockaddr_in last{};
    FUZZ_CHECK(get_fromUser2(&last));
    const bool moved = last.sin_addr.s_addr != last_before.sin_addr.s_addr || last.sin_port != last_before.sin_port;
    if (moved) FUZZ_CHECK(the_repeaters && last.sin_addr.s_addr == sender.sin_addr.s_addr);
    // ... and all of them but keep-alive replies, which count once per request.
    if (the_repeaters && repeater_id_sure && !(length > 16 && opcode == 0x97))
      FUZZ_CHECK(last.sin_addr.s_addr == sender.sin_addr.s_addr && last.sin_port == sender.sin_port);
    // Only the repeater's trusted peer list naming three or more peers ends the thread.
    bool too_many = trusted && from_repeater && length > 16 && opcode == 0x93 && peer_bytes / 11 >= IPSC_PEER_LIMIT;
    FUZZ_CHECK(goes_on == (too_many ? 0 : 1));
    // Only the repeater's keep-alive reply longer than 16 bytes refreshes the
    // link, at most once per request that may have gone out.
    FUZZ_CHECK(motorola_repeater_online == 0 || motorola_repeater_online == 20);
    if (motorola_repeater_online == 20) {
      FUZZ_CHECK(the_repeaters && length > 16 && opcode == 0x97);
      ++refreshes;
      FUZZ_CHECK(refreshes <= 1 + turns / IPSC_KEEPALIVE_TURNS);
    }
    if (trusted && (opcode == 0x80 || opcode == 0x81)) check_built_packet();
    if (!goes_on) break;  // the thread has ended: nothing reads the socket any more
  }
  return 0;
}
