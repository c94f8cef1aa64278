// Cost of the checks that keep strangers from acting on the bridge, per
// datagram, beside the HMAC yardstick (OpenSSL's HMAC-SHA1 over 66 bytes with
// its key schedule kept): the trailer check of the largest voice datagram
// (burst E, 76 bytes) when it holds and when it is forged, the master-address
// check, and a forged datagram's whole drop with its (rate-limited) report.
// The trailer check is one HMAC over the same bytes, so it should cost about
// what the signer costs, within twice the yardstick.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hmac_yardstick.h"

#include "ipsc/ipsc_peer.h"
#include "ipsc/packet_sign.h"
#include "main/config.h"
#include "main/trusted_senders.h"

namespace {

constexpr unsigned kSignedBytes = 66;
constexpr unsigned kDatagramBytes = kSignedBytes + IPSC_TRAILER_LEN;

void fill(unsigned char* p, unsigned n, unsigned seed) {
  for (unsigned i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(seed + 37 * i + (i >> 3));
}

void BM_trailer_check_valid_burst_e(benchmark::State& state) {
  fill(Key, sizeof Key, 1);
  unsigned char datagram[kDatagramBytes];
  fill(datagram, sizeof datagram, 2);
  sign_ipsc_packet(datagram, kSignedBytes);
  for (auto _ : state) {
    bool ok = ipsc_trailer_valid(datagram, sizeof datagram);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  if (!ipsc_trailer_valid(datagram, sizeof datagram)) state.SkipWithError("signed datagram not accepted");
}
BENCHMARK(BM_trailer_check_valid_burst_e);

void BM_trailer_check_forged_burst_e(benchmark::State& state) {
  fill(Key, sizeof Key, 1);
  unsigned char datagram[kDatagramBytes];
  fill(datagram, sizeof datagram, 2);
  for (auto _ : state) {
    bool ok = ipsc_trailer_valid(datagram, sizeof datagram);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_trailer_check_forged_burst_e);

BENCHMARK(BM_openssl_hmac_sha1_66_bytes);

void BM_master_address_check(benchmark::State& state) {
  strcpy(MasterIP, "192.0.2.2");
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = inet_addr("192.0.2.2");
  from.sin_port = htons(62006);
  for (auto _ : state) {
    bool ok = accept_from_master(from, 62006);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_master_address_check);

// Runs with standard output sent to /dev/null: only the first datagram of
// each sender prints, the rest only count.
void BM_forged_datagram_dropped_on_repeater_port(benchmark::State& state) {
  fill(Key, sizeof Key, 1);
  RptrPort = 50000;
  fill(sendBuffer, kDatagramBytes, 3);
  reset_drop_reports();
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  uint32_t host = 0;
  for (auto _ : state) {
    from.sin_addr.s_addr = htonl(0xC0000200u + (host++ & 0xFF));  // 256 forged senders in turn
    bool ok = ipsc_datagram_trusted(static_cast<int>(kDatagramBytes), from);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(null_fd);
  reset_drop_reports();
}
BENCHMARK(BM_forged_datagram_dropped_on_repeater_port);

}  // namespace

BENCHMARK_MAIN();
