#include "ipsc/control_packets.h"

#include <cstring>

#include "ipsc/packet_sign.h"
#include "main/config.h"

// Bytes 1..4 (our peer identifier) and the trailing signature are filled in
// at start-up.
unsigned char start[24] = {0x90, 0, 0, 0, 0, 0x60, 0x00, 0x00, 0x80, 0x5C, 0x04, 0x03, 0x04, 0x00};
unsigned char start2[15] = {0x92};
unsigned char start_hb[24] = {0x96, 0, 0, 0, 0, 0x60, 0x00, 0x00, 0x80, 0x5C, 0x04, 0x03, 0x04, 0x00};
unsigned char peer_95[19] = {0x95, 0, 0, 0, 0, 0x04, 0x04, 0x04, 0x00};
unsigned char peer_99[20] = {0x99, 0, 0, 0, 0, 0x60, 0x00, 0x00, 0xE0, 0x1C};

namespace {

void identify_and_sign(unsigned char* packet, unsigned signed_length) {
  memcpy(packet + IPSC_OFS_PEER_ID, MyBridgeID, sizeof MyBridgeID);
  sign_ipsc_packet(packet, signed_length);
}

}  // namespace

void prepare_control_packets() {
  start[IPSC_OFS_MODE] |= IPSC_MODE_BIT;
  peer_99[IPSC_OFS_MODE] |= IPSC_MODE_BIT;
  start_hb[IPSC_OFS_MODE] |= IPSC_MODE_BIT;
  identify_and_sign(start, IPSC_START_SIGNED);
  identify_and_sign(start2, IPSC_START2_SIGNED);
  identify_and_sign(start_hb, IPSC_START_HB_SIGNED);
  identify_and_sign(peer_95, IPSC_PEER_95_SIGNED);
  identify_and_sign(peer_99, IPSC_PEER_99_SIGNED);
}
