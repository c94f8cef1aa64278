#include "ipsc/repeater_link.h"

#include <cstdint>

#include "ipsc/control_packets.h"
#include "main/byte_order.h"
#include "main/config.h"

namespace {

bool peer_id_known = false;
uint32_t peer_id = 0;

// One reply per request: the registration request at thread start and each
// keep-alive request since open the next one.
bool reply_outstanding = false;
// Replies with none outstanding in this keep-alive interval, and whether
// the one before brought copies. The network may duplicate a datagram now
// and then; two or more in an interval are copies someone sends.
constexpr int kCopiesInAnInterval = 2;
int unasked_this_interval = 0;
bool copies_last_interval = false;

AddressSetting repeater_ip{};

}  // namespace

void repeater_link_reset() {
  peer_id_known = false;
  peer_id = 0;
  reply_outstanding = true;
  unasked_this_interval = 0;
  copies_last_interval = false;
}

void repeater_learn_peer_id(const unsigned char* datagram) {
  peer_id = get_be32(datagram + IPSC_OFS_PEER_ID);
  peer_id_known = true;
}

bool repeater_address(const sockaddr_in& sender) { return sender.sin_addr.s_addr == address_of(repeater_ip, RptrIP); }

bool repeater_sent(const sockaddr_in& sender, const unsigned char* datagram, int length) {
  if (!repeater_address(sender)) return false;
  if (!peer_id_known) return true;
  return length >= static_cast<int>(IPSC_OFS_PEER_ID + 4) && get_be32(datagram + IPSC_OFS_PEER_ID) == peer_id;
}

void repeater_keep_alive_requested() {
  copies_last_interval = unasked_this_interval >= kCopiesInAnInterval;
  unasked_this_interval = 0;
  reply_outstanding = true;
}

KeepAliveReply repeater_take_keep_alive_reply() {
  if (!reply_outstanding) {
    if (unasked_this_interval < kCopiesInAnInterval) ++unasked_this_interval;
    return KeepAliveReply::kUnasked;
  }
  reply_outstanding = false;
  return copies_last_interval ? KeepAliveReply::kDoubtful : KeepAliveReply::kAlive;
}
