#include "voice/location_data.h"
#include "main/byte_order.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "main/config.h"
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

// The fill count runs one block ahead of what is stored: the skipped first
// block counts as 16 without being written.
int location_fill;
int dot_position;
char latitude[10];
char longitude[10];
char speed[4];

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

void decode_and_forward(const unsigned char* packet) {
  for (int i = kDotSearchFirst; i <= kDotSearchLast; ++i) {
    if (location_buffer[i] == '.') {
      dot_position = i;
      break;
    }
  }
  Mode mode = mode_for_dot(dot_position);
  int32_t peer = static_cast<int32_t>(get_be32(packet + MOTO_OFS_PEER_ID));
  // Position 0 means no dot was ever found; the texts would start before the buffer.
  if (dot_position != 0 && location_buffer[dot_position] == '.' &&
      location_buffer[dot_position + kSecondDotDistance] == '.') {
    memcpy(latitude, location_buffer + dot_position - kLatitudeBeforeDot, sizeof latitude);
    memcpy(longitude, location_buffer + dot_position + kLongitudeAfterDot, sizeof longitude);
    memcpy(speed, location_buffer + dot_position + kSpeedAfterDot, sizeof speed);
    printf("[%i]Decoded GPS %s [%d]: LAT(%-9.9s) LONG(%-9.9s) SPEED(%-3.3s) RPT:%i\r\n",
           static_cast<int>(get_be24(packet + MOTO_OFS_SOURCE)), mode.text, dot_position, latitude, longitude, speed,
           peer);
  }
  snprintf(reinterpret_cast<char*>(location_record + LOCREC_OFS_PEER_TEXT), LOCREC_PEER_TEXT_CAPACITY, "%i6.6", peer);
  location_record[LOCREC_OFS_Q] = 'Q';
  memcpy(location_record + LOCREC_OFS_LATITUDE, latitude, LOCREC_COORDINATE_LEN);
  memcpy(location_record + LOCREC_OFS_LONGITUDE, longitude, LOCREC_COORDINATE_LEN);
  location_record[LOCREC_OFS_FORMAT] = '2';
  location_record[LOCREC_OFS_MODE] = static_cast<unsigned char>(mode.digit);
  if (master_online > 0)
    udp_send_to(Local_Repeater_audio_srv_sock, location_record, sizeof location_record, MasterIP, location_record_port);
}

}  // namespace

void reset_location_data() {
  memset(location_buffer, 0, sizeof location_buffer);
  location_fill = 0;
  dot_position = 0;
  memset(latitude, 0, sizeof latitude);
  memset(longitude, 0, sizeof longitude);
  memset(speed, 0, sizeof speed);
  memset(location_record, 0, sizeof location_record);
}

int handle_location_data(const unsigned char* packet, int length) {
  // Too short to say which timeslot or data type it is: nothing to act on.
  if (length <= static_cast<int>(MOTO_OFS_BURST_TYPE)) return 1;
  if (!(packet[MOTO_OFS_CALL_FLAGS] & MOTO_FLAG_SLOT2)) return 1;
  switch (packet[MOTO_OFS_BURST_TYPE] & 0x3f) {
    case MOTO_DATA_TYPE_HEADER:
      memset(location_buffer, 0, sizeof location_buffer);
      location_fill = 0;
      return 1;  // the decoding check has nothing to do at fill count 0
    case MOTO_DATA_TYPE_BLOCK:
      break;
    default:
      return 0;
  }
  // A block cut short carries no usable contents; it neither counts nor is stored.
  if (length < MOTO_OFS_DATA_BLOCK + MOTO_DATA_BLOCK_LEN) return 1;
  if (location_fill == 0) {
    location_fill = MOTO_DATA_BLOCK_LEN;
    return 0;
  }
  memcpy(location_record + LOCREC_OFS_DESTINATION, packet + MOTO_OFS_DESTINATION, 3);
  memcpy(location_record + LOCREC_OFS_SOURCE, packet + MOTO_OFS_SOURCE, 3);
  // Blocks past the buffer are dropped, but each still triggers a decoding of
  // what is stored, so a long report keeps producing records.
  if (location_fill <= LOCATION_BUFFER_SIZE) {
    memcpy(location_buffer + location_fill - MOTO_DATA_BLOCK_LEN, packet + MOTO_OFS_DATA_BLOCK, MOTO_DATA_BLOCK_LEN);
    location_fill += MOTO_DATA_BLOCK_LEN;
  }
  if (location_fill >= kDecodeFill) decode_and_forward(packet);
  return 1;
}
