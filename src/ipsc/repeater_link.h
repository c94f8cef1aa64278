#pragma once
// Which datagrams on the Motorola side are the repeater's own. A valid
// signature only shows that a holder of the key once sent the datagram: a
// recorded one passes again from any host at any time. So the repeater is
// its address (RptrIP, from any source port, as a repeater behind NAT sends
// from a mapped one) together with the IPSC peer identifier that its
// registration reply and peer list name; and each of its keep-alive replies
// counts once, for a request the bridge sent. Used only by the thread that
// reads the Motorola-side socket.
#include <netinet/in.h>

// Thread start: the repeater's identifier is not known yet, and the
// registration request about to go out may be answered.
void repeater_link_reset();

// The repeater named its peer identifier: bytes 1..4 of `datagram`, its
// registration reply or peer list.
void repeater_learn_peer_id(const unsigned char* datagram);

// True when a signed datagram of `length` bytes in `datagram` comes from the
// repeater: from RptrIP and, once the repeater's identifier is known,
// carrying it in bytes 1..4. Until its registration reply has named it the
// address alone decides.
bool repeater_sent(const sockaddr_in& sender, const unsigned char* datagram, int length);

// True when `sender` is RptrIP, whatever the identifier and source port.
bool repeater_address(const sockaddr_in& sender);

// A keep-alive request went out to the repeater.
void repeater_keep_alive_requested();

// What a keep-alive reply from the repeater is worth. IPSC keep-alives carry
// no nonce, so a replayed reply looks like the real one. The repeater
// answers each request once: a reply with no request outstanding is a copy
// (kUnasked), and one that follows an interval in which two or more such
// copies came may be a copy as well (kDoubtful): it takes the request's turn
// but shows nothing. Only kAlive shows the repeater alive.
enum class KeepAliveReply { kUnasked, kDoubtful, kAlive };
KeepAliveReply repeater_take_keep_alive_reply();
