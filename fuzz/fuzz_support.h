#pragma once
// Shared by the fuzz targets: the bridge's settings as a harness needs them,
// a quiet console, the record format that turns one fuzz input into a
// sequence of datagrams, and a failing check that libFuzzer reports as a
// crash with its input saved.
#include <cstddef>
#include <cstdint>

// Loopback-only settings, a fixed key and peer identifier, signed control
// packets, the Golay table and the voice paths behind the repeater-side
// loop: what start-up has done before any thread runs.
// All four sockets stay -1, so the handlers' sends are skipped.
void fuzz_prepare_bridge();

// Sends standard output to /dev/null: the handlers log every datagram, and
// formatting still runs, so format bugs still show.
void fuzz_quiet_stdout();

// One input is a sequence of records: [length][control][length data bytes].
// The last record's data may be cut short by the end of the input.
struct FuzzRecord {
  unsigned length_code;  // the length byte as it stands (0..255)
  unsigned control;      // the control byte; each target gives it a meaning
  const uint8_t* data;
  size_t size;  // data bytes actually present (<= length_code)
};

class FuzzRecords {
 public:
  FuzzRecords(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  // False when no whole record header is left.
  bool next(FuzzRecord* record);

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// The HMAC key that fuzz_prepare_bridge installs; the targets verify
// signatures with it through OpenSSL.
extern const unsigned char kFuzzKey[20];

// True when the last 10 bytes of a datagram are the first 10 bytes of
// HMAC-SHA1 (OpenSSL, keyed with kFuzzKey) over everything before them.
bool fuzz_signature_ok(const unsigned char* datagram, size_t length);

// Overwrites the last 10 bytes of a datagram of more than 10 bytes with that
// trailer, as the repeater signs what it sends.
void fuzz_sign(unsigned char* datagram, size_t length);

// Aborts with a message when cond is false; libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                       \
  do {                                                         \
    if (!(cond)) fuzz_check_failed(#cond, __FILE__, __LINE__); \
  } while (0)
[[noreturn]] void fuzz_check_failed(const char* what, const char* file, int line);
