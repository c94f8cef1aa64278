#pragma once
// The yardstick of the benchmarks: OpenSSL's HMAC-SHA1 over the 66 signed
// bytes of the largest voice datagram, with its key schedule kept.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

inline void BM_openssl_hmac_sha1_66_bytes(benchmark::State& state) {
  constexpr unsigned kSignedBytes = 66;
  unsigned char key[20];
  unsigned char packet[kSignedBytes + 10];
  for (unsigned i = 0; i < sizeof key; ++i) key[i] = static_cast<unsigned char>(1 + 37 * i);
  for (unsigned i = 0; i < sizeof packet; ++i) packet[i] = static_cast<unsigned char>(2 + 37 * i + (i >> 3));
  HMAC_CTX* ctx = HMAC_CTX_new();
  if (ctx == nullptr || HMAC_Init_ex(ctx, key, sizeof key, EVP_sha1(), nullptr) != 1) {
    state.SkipWithError("OpenSSL HMAC set-up failed");
    HMAC_CTX_free(ctx);
    return;
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  for (auto _ : state) {
    HMAC_Init_ex(ctx, nullptr, 0, nullptr, nullptr);
    HMAC_Update(ctx, packet, kSignedBytes);
    HMAC_Final(ctx, mac, &mac_len);
    memcpy(packet + kSignedBytes, mac, 10);
    benchmark::DoNotOptimize(packet);
    benchmark::ClobberMemory();
  }
  HMAC_CTX_free(ctx);
}
