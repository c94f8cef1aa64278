#include "fuzz_support.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "ipsc/control_packets.h"
#include "main/config.h"
#include "main/sockets.h"
#include "main/startup.h"

const unsigned char kFuzzKey[20] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x01, 0x23,
                                    0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98};

void fuzz_prepare_bridge() {
  init_Golay_23_12();
  strcpy(RptrCall, "DB0FUZ");
  RptrID = 262999;
  strcpy(RptrIP, "127.0.0.1");
  RptrPort = 50000;
  strcpy(MasterIP, "127.0.0.1");
  RptrQRGtx = 439500000;
  RptrQRGrx = 431900000;
  const unsigned char id[4] = {0x00, 0x04, 0x03, 0x56};
  memcpy(MyBridgeID, id, sizeof MyBridgeID);
  memcpy(Key, kFuzzKey, sizeof Key);
  prepare_control_packets();
  connect_voice_paths();
  Local_Repeater_srv_sock = -1;
  Local_Repeater_audio_srv_sock = -1;
  Local_Repeater_rdac_srv_sock = -1;
  Quorvix_sock = -1;
}

void fuzz_quiet_stdout() {
  fflush(stdout);
  int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) {
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
  }
}

bool FuzzRecords::next(FuzzRecord* record) {
  if (end_ - p_ < 2) return false;
  record->length_code = p_[0];
  record->control = p_[1];
  p_ += 2;
  size_t available = static_cast<size_t>(end_ - p_);
  record->size = record->length_code < available ? record->length_code : available;
  record->data = p_;
  p_ += record->size;
  return true;
}

bool fuzz_signature_ok(const unsigned char* datagram, size_t length) {
  if (length < 10) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  HMAC(EVP_sha1(), kFuzzKey, sizeof kFuzzKey, datagram, length - 10, digest, &digest_length);
  return digest_length == 20 && memcmp(digest, datagram + length - 10, 10) == 0;
}

void fuzz_sign(unsigned char* datagram, size_t length) {
  if (length <= 10) return;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  HMAC(EVP_sha1(), kFuzzKey, sizeof kFuzzKey, datagram, length - 10, digest, &digest_length);
  memcpy(datagram + length - 10, digest, 10);
}

void fuzz_check_failed(const char* what, const char* file, int line) {
  fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  abort();
}
