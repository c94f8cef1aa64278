#include "voice/location_data.h"
#include "main/byte_order.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "main/config.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/udp_io.h"
#include "ipsc/moto_voice_packet.h"

unsigned char location_buffer[LOCATION_BUFFER_SIZE];
unsigned char location_record[LOCATION_RECORD_SIZE];
int location_record_port = LISTEN_REPEATER_AUDIO_PORT;

namespace {

constexpr int kDecodeFill = 64;  // from the fourth block on
constexpr int kDotSearchFirst = 5;
constexpr int kDotSearchLast = 43;
constexpr int kSecondDotDistance = 11;
// Where the texts stand around the latitude's decimal point.
constexpr int kLatitudeBeforeDot = 5;
constexpr int kLongitudeAfterDot = 5;
constexpr int kSpeedAfterDot = 16;

// One timeslot's report in progress and what the last decoding found.
struct LocationReport {
  unsigned int slot;
  unsigned char* buffer;
  unsigned char* record;
  // The fill count runs one block ahead of what is stored: the skipped first
  // block counts as 16 without being written.
  int fill;
  int dot_position;
  char latitude[10];
  char longitude[10];
  char speed[4];
};

unsigned char slot1_buffer[LOCATION_BUFFER_SIZE];
unsigned char slot1_record[LOCATION_RECORD_SIZE];
LocationReport reports[3] = {
    {}, {1, slot1_buffer, slot1_record, 0, 0, {}, {}, {}}, {2, location_buffer, location_record, 0, 0, {}, {}, {}}};

struct Mode {
  const char* text;
  char digit;
};

// The radio's reporting mode shows in how far into the report the latitude's
// decimal point sits.
Mode mode_for_dot(int dot) {
  switch (dot) {
    case 17:
      return {"Auto Time+Dist", '4'};
    case 19:
      return {"Manual", '1'};
    case 25:
      return {"Auto Time", '2'};
    default:
      return {"unknown", '0'};
  }
}

void decode_and_forward(LocationReport& r, const unsigned char* packet) {
  for (int i = kDotSearchFirst; i <= kDotSearchLast; ++i) {
    if (r.buffer[i] == '.') {
      r.dot_position = i;
      break;
    }
  }
  Mode mode = mode_for_dot(r.dot_position);
  int32_t peer = static_cast<int32_t>(get_be32(packet + MOTO_OFS_PEER_ID));
  // Position 0 means no dot was ever found; the texts would start before the buffer.
  const int dot = r.dot_position;
  if (dot != 0 && r.buffer[dot] == '.' && r.buffer[dot + kSecondDotDistance] == '.') {
    memcpy(r.latitude, r.buffer + dot - kLatitudeBeforeDot, sizeof r.latitude);
    memcpy(r.longitude, r.buffer + dot + kLongitudeAfterDot, sizeof r.longitude);
    memcpy(r.speed, r.buffer + dot + kSpeedAfterDot, sizeof r.speed);
    printf("[%i]Decoded GPS %s [%d]: LAT(%-9.9s) LONG(%-9.9s) SPEED(%-3.3s) RPT:%i%s\r\n",
           static_cast<int>(get_be24(packet + MOTO_OFS_SOURCE)), mode.text, dot, r.latitude, r.longitude, r.speed, peer,
           slot_suffix(r.slot));
  }
  snprintf(reinterpret_cast<char*>(r.record + LOCREC_OFS_PEER_TEXT), LOCREC_PEER_TEXT_CAPACITY, "%i6.6", peer);
  r.record[LOCREC_OFS_Q] = 'Q';
  memcpy(r.record + LOCREC_OFS_LATITUDE, r.latitude, LOCREC_COORDINATE_LEN);
  memcpy(r.record + LOCREC_OFS_LONGITUDE, r.longitude, LOCREC_COORDINATE_LEN);
  r.record[LOCREC_OFS_FORMAT] = '2';
  r.record[LOCREC_OFS_MODE] = static_cast<unsigned char>(mode.digit);
  if (master_online > 0)
    udp_send_to(Local_Repeater_audio_srv_sock, r.record, LOCATION_RECORD_SIZE, MasterIP, location_record_port);
}

}  // namespace

void reset_location_data() {
  for (unsigned int slot = 1; slot <= 2; ++slot) {
    LocationReport& r = reports[slot];
    memset(r.buffer, 0, LOCATION_BUFFER_SIZE);
    memset(r.record, 0, LOCATION_RECORD_SIZE);
    r.fill = 0;
    r.dot_position = 0;
    memset(r.latitude, 0, sizeof r.latitude);
    memset(r.longitude, 0, sizeof r.longitude);
    memset(r.speed, 0, sizeof r.speed);
  }
}

int handle_location_data(const unsigned char* packet, int length) {
  // Too short to say which timeslot or data type it is: nothing to act on.
  if (length <= static_cast<int>(MOTO_OFS_BURST_TYPE)) return 1;
  const unsigned int slot = moto_slot(packet, length);
  if (!timeslot_bridged(slot)) return 1;
  LocationReport& r = reports[slot];
  switch (packet[MOTO_OFS_BURST_TYPE] & 0x3f) {
    case MOTO_DATA_TYPE_HEADER:
      memset(r.buffer, 0, LOCATION_BUFFER_SIZE);
      r.fill = 0;
      return 1;  // the decoding check has nothing to do at fill count 0
    case MOTO_DATA_TYPE_BLOCK:
      break;
    default:
      return 0;
  }
  // A block cut short carries no usable contents; it neither counts nor is stored.
  if (length < MOTO_OFS_DATA_BLOCK + MOTO_DATA_BLOCK_LEN) return 1;
  if (r.fill == 0) {
    r.fill = MOTO_DATA_BLOCK_LEN;
    return 0;
  }
  memcpy(r.record + LOCREC_OFS_DESTINATION, packet + MOTO_OFS_DESTINATION, 3);
  memcpy(r.record + LOCREC_OFS_SOURCE, packet + MOTO_OFS_SOURCE, 3);
  // Blocks past the buffer are dropped, but each still triggers a decoding of
  // what is stored, so a long report keeps producing records.
  if (r.fill <= LOCATION_BUFFER_SIZE) {
    memcpy(r.buffer + r.fill - MOTO_DATA_BLOCK_LEN, packet + MOTO_OFS_DATA_BLOCK, MOTO_DATA_BLOCK_LEN);
    r.fill += MOTO_DATA_BLOCK_LEN;
  }
  if (r.fill >= kDecodeFill) decode_and_forward(r, packet);
  return 1;
}
