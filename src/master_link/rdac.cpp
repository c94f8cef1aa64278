#include "master_link/rdac.h"
#include "main/byte_order.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "main/config.h"
#include "main/sockets.h"
#include "main/startup.h"
#include "main/supervision.h"
#include "main/thread_wait.h"
#include "main/trusted_senders.h"
#include "main/udp_io.h"

// Both templates go out as stored apart from the fields filled at thread
// start. The checksums at bytes 10..11 belong to the stored bytes and are
// deliberately left alone after filling; the master takes them as they are.
// clang-format off
unsigned char rdac225[RDAC225_LENGTH] = {
    // 0: header, packet type 03
    0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x03,
    // 8: length 225, big-endian
    0x00, 0xe1,
    // 10: checksum of the stored template
    0x56, 0xc9,
    // 12
    0x02, 0xd4, 0x82, 0xce,
    // 16
    0x00, 0x00,
    // 18: repeater identifier field, never replaced by ours
    0x4e, 0x00, 0x04, 0x00,
    // 22
    0x02, 0x00,
    // 24: UTF-16LE text
    'D', 0x00, '5', 0x00, '.', 0x00, '0', 0x00, '5', 0x00, '.', 0x00, '0', 0x00, '9', 0x00,
    '.', 0x00, '0', 0x00, '0', 0x00, '5', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 56: firmware text, replaced by RptrFw
    'A', 0x00, '5', 0x00, '.', 0x00, '0', 0x00, '5', 0x00, '.', 0x00, '1', 0x00, '0', 0x00,
    '.', 0x00, '0', 0x00, '0', 0x00, '7', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 88: call sign
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 120: model text; only its first five characters are replaced by RptrModel
    'R', 0x00, 'D', 0x00, '9', 0x00, '6', 0x00, '5', 0x00, '-', 0x00, '0', 0x00, '0', 0x00,
    '0', 0x00, 'G', 0x00, '0', 0x00, '0', 0x00, '0', 0x00, '0', 0x00, '-', 0x00, '0', 0x00,
    '0', 0x00, '1', 0x00, '0', 0x00, '0', 0x00, '0', 0x00, '-', 0x00, 'U', 0x00, '1', 0x00,
    '-', 0x00, '0', 0x00, '-', 0x00, 'B', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 184: UTF-16LE text
    '1', 0x00, '3', 0x00, '7', 0x00, '0', 0x00, '1', 0x00, 'A', 0x00, '0', 0x00, '7', 0x00,
    '3', 0x00, '0', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 216
    0x4e, 0x00, 0x04, 0x00,
    // 220
    0x01, 0x00, 0x00, 0x7d, 0x03,
};

unsigned char rdac71[RDAC71_LENGTH] = {
    // 0: header, packet type 04
    0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x04,
    // 8: length 71, big-endian
    0x00, 0x47,
    // 10: checksum of the stored template
    0x69, 0x5a,
    // 12
    0x02, 0xd4, 0x82, 0x34,
    // 16
    0x00, 0x00,
    // 18: RptrID (24 bits, little-endian), then our peer identifier's last byte
    0x00, 0x00, 0x00, 0x00,
    // 22
    0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 29: transmit frequency, hertz, little-endian
    0x00, 0x00, 0x00, 0x00,
    // 33: receive frequency, hertz, little-endian
    0x00, 0x00, 0x00, 0x00,
    // 37: call sign
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 69
    0xe8, 0x03,
};
// clang-format on

const char RptrModel[6] = "RovEr";
unsigned char rdacBuffer[RDAC_RECEIVE_LIMIT];
sockaddr_in fromRepeater_rdac_srv;
int rdac_master_port = LISTEN_REPEATER_rdac_PORT;

namespace {

constexpr int RDAC_ROUNDS_END = 4;  // logged values 2, 3, 4, then 0

// Sets `characters` UTF-16LE units of a field from a text, one byte per
// character; units past the text's end become NUL. High bytes are left as the
// template holds them (zero), so non-ASCII bytes pass through unchanged.
void set_utf16_text(unsigned char* field, size_t characters, const char* text, size_t capacity) {
  size_t length = strnlen(text, capacity);
  for (size_t i = 0; i < characters; ++i) {
    field[2 * i] = 0;
    if (i < length) field[2 * i] = static_cast<unsigned char>(text[i]);
  }
}

void sleep_seconds(unsigned seconds) { sleep(seconds); }

}  // namespace

void fill_rdac_templates() {
  set_utf16_text(rdac225 + RDAC225_OFS_CALL, RDAC_CALL_CHARS, RptrCall, sizeof RptrCall);
  set_utf16_text(rdac225 + RDAC225_OFS_FIRMWARE, RDAC225_FIRMWARE_CHARS, RptrFw, sizeof RptrFw);
  set_utf16_text(rdac225 + RDAC225_OFS_MODEL, RDAC225_MODEL_CHARS, RptrModel, sizeof RptrModel);
  set_utf16_text(rdac71 + RDAC71_OFS_CALL, RDAC_CALL_CHARS, RptrCall, sizeof RptrCall);
  rdac71[RDAC71_OFS_PEER_ID_LOW] = MyBridgeID[3];
  put_le24(rdac71 + RDAC71_OFS_REPEATER_ID, RptrID);
  put_le32(rdac71 + RDAC71_OFS_RX_HZ, static_cast<uint32_t>(RptrQRGrx));
  put_le32(rdac71 + RDAC71_OFS_TX_HZ, static_cast<uint32_t>(RptrQRGtx));
}

void rdac_handle_answer(long length) {
  // An acknowledgement only counts from a master we are logged in to; a late
  // one after the login lapsed must not cut short the next login's schedule.
  if (length == RDAC_ANSWER_LENGTH && master_online > 0) {
    Start_rdac = 0;
    puts("Local_Repeater_rdac ");
  }
}

bool rdac_answer_trusted(const sockaddr_in& sender) { return accept_from_master(sender, LISTEN_REPEATER_rdac_PORT); }

void rdac_turn(void (*sleep_s)(unsigned)) {
  if (Start_rdac > 0) {
    if (++Start_rdac > RDAC_ROUNDS_END) Start_rdac = 0;
    sleep_s(6);
    // Read again after the sleep: a login meanwhile has restarted the count,
    // and the line then shows the restarted value.
    printf("Local_Repeater_rdac %i\n", Start_rdac.load());
    udp_send_to(Local_Repeater_audio_srv_sock, rdac225, sizeof rdac225, MasterIP, rdac_master_port);
    udp_send_to(Local_Repeater_audio_srv_sock, rdac71, sizeof rdac71, MasterIP, rdac_master_port);
  }
  // Others' datagrams are read and discarded while the step looks for the
  // master's answer, so a flood cannot bury that answer.
  const long length = receive_from_master(Local_Repeater_rdac_srv_sock, rdacBuffer, sizeof rdacBuffer,
                                          &fromRepeater_rdac_srv, LISTEN_REPEATER_rdac_PORT);
  rdac_handle_answer(length);
  flush_drop_summary(LISTEN_REPEATER_rdac_PORT);
}

void rdac_step(void (*sleep_s)(unsigned)) {
  // While announcements are due, each turn sleeps its 6 s in one go and
  // takes an answer only after its announcement, as the schedule always has;
  // otherwise the thread waits for an answer or a login.
  if (Start_rdac <= 0)
    wait_until(Local_Repeater_rdac_srv_sock, Start_rdac_signal,
               with_drop_summary(WAIT_FOREVER, LISTEN_REPEATER_rdac_PORT));
  wake_signal_clear(Start_rdac_signal);
  rdac_turn(sleep_s);
}

void* repeater_rdac(void*) {
  name_this_thread("repeater_rdac");
  printf("%s", "\033[0;33m");
  puts("Start Repeater RDAC  Modul  V1.01");
  printf("%s", "\033[0m");
  fill_rdac_templates();
  for (;;) rdac_step(sleep_seconds);
}
