#include "ipsc/ipsc_peer.h"
#include "main/byte_order.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ipsc/control_packets.h"
#include "ipsc/moto_voice_packet.h"
#include "ipsc/packet_sign.h"
#include "ipsc/repeater_link.h"
#include "main/config.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/thread_wait.h"
#include "main/trusted_senders.h"
#include "main/udp_io.h"

unsigned char sendBuffer[IPSC_RECEIVE_LIMIT];

namespace {

IpscHandlers handlers{};

int turn_counter = 0;
// Turns are counted on the monotonic clock from the thread's start.
int64_t turn_origin_us = 0;
int64_t turns_counted = 0;

// A repeater ignores keep-alives from a peer it has not registered, so after
// a repeater restart (or when it came up after us) only a new registration
// request brings the link back. Registered from the registration reply
// until the keep-alive answers that followed it stop for 20 s.
bool registered = false;
bool keep_alive_answered = false;
// Keep-alive steps since the registration reply with no answer yet: a reply
// that no answer ever follows (a stray 26-byte datagram) counts for 20 s only.
int steps_without_answer = 0;
constexpr int kUnansweredStepsAfterReply = 4;

// Forged datagrams one turn may read and discard before it moves on. A
// flood must not push the repeater's own datagrams to the back of the
// queue, so the turn keeps reading until a signed one turns up.
constexpr int kDropsPerTurn = 256;
// The repeater answers each keep-alive; the link counts as alive this many
// seconds after the last answer.
constexpr int kKeepAliveAnswerSeconds = 20;

// Peer identifiers are printed as signed numbers.
int32_t peer_id_at(const unsigned char* p) { return static_cast<int32_t>(get_be32(p)); }

// Another peer's request is answered where it came from; it does not move
// the voice destination, which belongs to the repeater.
void answer_peer(const char* line_format, const unsigned char* reply, size_t reply_length, const sockaddr_in& peer) {
  char address[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  printf(line_format, peer_id_at(sendBuffer + IPSC_OFS_PEER_ID), address);
  udp_send_to_address(Quorvix_sock, reply, reply_length, peer);
}

// Prints the master's peer list; false when it names too many peers.
bool read_peer_list(int length) {
  if (debug) {
    printf("len master peer %d\n", length);
    puts("Master peer list reply");
    printf("Len %d\n", length);
  }
  printf("SRC-ID:%d\n", peer_id_at(sendBuffer + IPSC_OFS_PEER_ID));
  int entries = sendBuffer[IPSC_OFS_PEER_LIST_LEN] / static_cast<int>(IPSC_PEER_ENTRY_LEN);
  for (int n = 1; n <= entries; ++n) {
    int offset = static_cast<int>(IPSC_OFS_PEER_LIST + (n - 1) * IPSC_PEER_ENTRY_LEN);
    // Only entries that arrived whole are printed; the count still covers all.
    if (offset + static_cast<int>(IPSC_PEER_ENTRY_LEN) > length) break;
    const unsigned char* entry = sendBuffer + offset;
    const unsigned char* address = entry + IPSC_PEER_ENTRY_OFS_ADDRESS;
    printf("PEER%d-ID:%d\n", n, peer_id_at(entry));
    printf("PEER%d-IP = %d.%d.%d.%d \n", n, address[0], address[1], address[2], address[3]);
    printf("PEER%d-Port = %d\n\n", n, get_be16(entry + IPSC_PEER_ENTRY_OFS_PORT));
  }
  if (entries >= IPSC_PEER_LIMIT) {
    printf("\nTOO MANY PEERS IN NETWORK! (%d)\nProgram stopped.\n", entries);
    return false;
  }
  return true;
}

enum class Classified { kGoOn, kTurnEnds, kThreadEnds };

// At a keep-alive step while registered: the keep-alive answers stopped for
// 20 s, or none ever followed the reply.
bool registration_lapsed() {
  if (keep_alive_answered) return motorola_repeater_online <= 0;
  return ++steps_without_answer > kUnansweredStepsAfterReply;
}

// The peer list counts only from the repeater's configured address and port.
bool peer_list_from_repeater(const sockaddr_in& sender) {
  return repeater_address(sender) && sender.sin_port == htons(static_cast<uint16_t>(RptrPort));
}

bool is_peer_list(int length) {
  return length > IPSC_SHORTEST_IGNORED && sendBuffer[IPSC_OFS_OPCODE] == IPSC_PEER_LIST_REPLY;
}

Classified classify(int length, const sockaddr_in& sender) {
  switch (sendBuffer[IPSC_OFS_OPCODE]) {
    case IPSC_KEEPALIVE_REQUEST:
      if (debug) {
        puts("Master keep alive request from master");
        printf("Len %d\n", length);
      }
      return Classified::kGoOn;
    case IPSC_KEEPALIVE_REPLY:
      // Weighed when it was let in (keep_alive_reply_admitted).
      return Classified::kGoOn;
    case IPSC_PEER_LIST_REPLY:
      // Only the repeater, as IPSC master, keeps the peer list; a list from
      // anyone else must not be able to stop the Motorola side.
      if (!peer_list_from_repeater(sender)) return Classified::kGoOn;
      return read_peer_list(length) ? Classified::kGoOn : Classified::kThreadEnds;
    case IPSC_PEER_REGISTRATION_REQUEST:
      answer_peer("Login PEER-ID:%d from IP:%s\n", peer_95, sizeof peer_95, sender);
      return Classified::kGoOn;
    case IPSC_PEER_KEEPALIVE_REQUEST:
      answer_peer("Send 99 PEER-ID:%d IP:%s\n", peer_99, sizeof peer_99, sender);
      return Classified::kGoOn;
    case MOTO_OPCODE_GROUP_VOICE:
    case MOTO_OPCODE_PRIVATE_VOICE:
      if (!handlers.voice) return Classified::kGoOn;
      return handlers.voice(sendBuffer, length) ? Classified::kGoOn : Classified::kTurnEnds;
    case IPSC_DATA_CALL:
      if (!handlers.data) return Classified::kGoOn;
      return handlers.data(sendBuffer, length) ? Classified::kGoOn : Classified::kTurnEnds;
    default:
      return Classified::kGoOn;
  }
}

// One receive with the datagram's real length, even when it was longer than
// sendBuffer (MSG_TRUNC), so that a cut datagram is never taken for whole.
int receive_whole(sockaddr_in* from) {
  if (Quorvix_sock < 0) return -1;
  socklen_t from_length = sizeof *from;
  ssize_t length =
      recvfrom(Quorvix_sock, sendBuffer, sizeof sendBuffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(from), &from_length);
  if (length < 0) return -1;
  return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

// A keep-alive reply is let in only from the repeater, once per request,
// and only when nothing casts doubt on it: then it shows the link alive.
// The others are dropped in the receive loop, with the forged datagrams, so
// that replayed copies cannot queue up ahead of the repeater's voice either.
// A doubtful one may be the repeater's real answer, so it is not reported.
bool keep_alive_reply_admitted(int length, const sockaddr_in& sender) {
  if (length <= IPSC_SHORTEST_IGNORED || sendBuffer[IPSC_OFS_OPCODE] != IPSC_KEEPALIVE_REPLY) return true;
  const KeepAliveReply reply =
      repeater_sent(sender, sendBuffer, length) ? repeater_take_keep_alive_reply() : KeepAliveReply::kUnasked;
  switch (reply) {
    case KeepAliveReply::kAlive:
      motorola_repeater_online = kKeepAliveAnswerSeconds;
      keep_alive_answered = true;
      return true;
    case KeepAliveReply::kDoubtful:
      return false;
    case KeepAliveReply::kUnasked:
      break;
  }
  report_drop(sender, static_cast<int>(RptrPort), DropReason::kUnaskedKeepAliveReply);
  return false;
}

bool admitted(int length, const sockaddr_in& sender) {
  return ipsc_datagram_trusted(length, sender) && keep_alive_reply_admitted(length, sender);
}

// The repeater's registration reply and peer list name its peer identifier;
// from then on only datagrams that carry it are the repeater's.
void learn_repeater_id(int length, const sockaddr_in& sender) {
  if ((length == IPSC_REGISTRATION_REPLY_LEN && repeater_address(sender)) ||
      (is_peer_list(length) && peer_list_from_repeater(sender)))
    repeater_learn_peer_id(sendBuffer);
}

// Turns of the clock that have passed since they were last counted.
int clock_turns() {
  const int64_t elapsed = monotonic_us() - turn_origin_us;
  const int64_t now_turn = elapsed < 0 ? 0 : elapsed / IPSC_TURN_US;
  const int64_t fresh = now_turn > turns_counted ? now_turn - turns_counted : 0;
  if (now_turn > turns_counted) turns_counted = now_turn;
  return fresh > INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(fresh);
}

int finish_turn(int length, const sockaddr_in& sender) {
  if (length >= 0) {
    learn_repeater_id(length, sender);
    if (repeater_sent(sender, sendBuffer, length)) set_fromUser2(sender);
  }
  const int goes_on = ipsc_handle_turn(length, sender);
  flush_drop_summary(static_cast<int>(RptrPort));
  return goes_on;
}

}  // namespace

bool ipsc_datagram_trusted(int length, const sockaddr_in& sender) {
  if (length < 0) return false;
  DropReason reason = DropReason::kBadSignature;
  // What did not fit the buffer cannot be checked, and is never read past it.
  if (length > static_cast<int>(IPSC_RECEIVE_LIMIT))
    reason = DropReason::kTooLong;
  else if (!ipsc_trailer_valid(sendBuffer, static_cast<size_t>(length)))
    reason = DropReason::kBadSignature;
  // A valid trailer means more than 10 bytes, so the identifier is there.
  else if (memcmp(sendBuffer + IPSC_OFS_PEER_ID, MyBridgeID, sizeof MyBridgeID) == 0)
    reason = DropReason::kReflected;  // our own datagram, sent back
  else
    return true;
  report_drop(sender, static_cast<int>(RptrPort), reason);
  return false;
}

int ipsc_handle_datagram(int length, const sockaddr_in& sender) {
  if (length >= 0 && !admitted(length, sender)) length = -1;
  return finish_turn(length, sender);
}

void ipsc_set_handlers(const IpscHandlers& given) { handlers = given; }

void SEND(unsigned int len, const unsigned char* data) {
  udp_send_to(Quorvix_sock, data, len, RptrIP, static_cast<uint16_t>(RptrPort));
}

void ipsc_thread_start() {
  SEND(sizeof start, start);
  printf("%s", "\033[0;33m");
  puts("Start Moto           Modul  V0.01");
  printf("%s", "\033[0;33m");
  printf("%s", "\033[0m");
  printf("%s", "\033[0m");
  if (handlers.reset) handlers.reset();
  repeater_link_reset();
  turn_counter = 0;
  turn_origin_us = monotonic_us();
  turns_counted = 0;
  registered = false;
  keep_alive_answered = false;
}

int ipsc_handle_turn(int length, const sockaddr_in& sender) {
  if (length > IPSC_SHORTEST_IGNORED) {
    switch (classify(length, sender)) {
      case Classified::kThreadEnds:
        return 0;
      case Classified::kTurnEnds:
        return 1;
      case Classified::kGoOn:
        break;
    }
  }
  // Only the repeater's address may register us: a replayed reply from
  // elsewhere would hold back the registration that a restarted repeater needs.
  if (length == IPSC_REGISTRATION_REPLY_LEN && repeater_address(sender)) {
    SEND(sizeof start2, start2);
    registered = true;
    keep_alive_answered = false;
    steps_without_answer = 0;
  }
  if (turn_counter >= IPSC_KEEPALIVE_TURNS) {
    if (master_online > 0) udp_send_to(Local_Repeater_audio_srv_sock, "A", 1, MasterIP, LISTEN_REPEATER_AUDIO_PORT);
    turn_counter = 0;
    if (registered && registration_lapsed()) registered = false;
    if (!registered) {
      refresh_ts();
      printf("%s Repeater not registered, send registration to IP:%s Port:%d\n", ts, RptrIP,
             static_cast<int>(RptrPort));
      SEND(sizeof start, start);
    }
    SEND(sizeof start_hb, start_hb);
    repeater_keep_alive_requested();
  }
  return 1;
}

namespace {

// A pass with a flag for whether a signed datagram was taken.
int pass(int turns, bool* took) {
  if (turn_counter < INT_MAX - turns) turn_counter += turns;
  sockaddr_in sender{};
  int length = -1;
  for (int tries = 0; tries < kDropsPerTurn; ++tries) {
    length = receive_whole(&sender);
    if (length < 0 || admitted(length, sender)) break;
    length = -1;
  }
  *took = length >= 0;
  return finish_turn(length, sender);
}

}  // namespace

int ipsc_pass(int turns) {
  bool took = false;
  return pass(turns, &took);
}

int ipsc_turn() { return ipsc_pass(1); }

int ipsc_wake() {
  bool took = false;
  if (!pass(clock_turns(), &took)) return 0;
  for (int n = 1; took && n < IPSC_DATAGRAMS_PER_WAKE; ++n)
    if (!pass(0, &took)) return 0;
  return 1;
}

int64_t ipsc_next_wake_us() {
  const int64_t turns_left = IPSC_KEEPALIVE_TURNS - turn_counter;
  if (turns_left <= 0) return turn_origin_us + turns_counted * IPSC_TURN_US;
  return turn_origin_us + (turns_counted + turns_left) * IPSC_TURN_US;
}

void* send_voice_to_hytera(void*) {
  name_this_thread("voice_to_hytera");
  ipsc_thread_start();
  for (;;) {
    wait_until(Quorvix_sock, -1, with_drop_summary(ipsc_next_wake_us(), static_cast<int>(RptrPort)));
    if (!ipsc_wake()) return nullptr;
  }
}
