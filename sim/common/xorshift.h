#pragma once
// The simulators' random datagrams: a small xorshift generator, seeded so a
// run can be repeated with the same --seed.
#include <cstdint>

namespace simrand {

class Xorshift32 {
 public:
  explicit Xorshift32(uint32_t seed) : x_(seed ? seed : 1u) {}
  uint32_t operator()() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }

 private:
  uint32_t x_;
};

}  // namespace simrand
