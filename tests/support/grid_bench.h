#pragma once
// The network-to-repeater voice thread on a fake clock for the jitter-buffer
// tests: it wakes at every deadline the path names, as the thread does, and
// takes each datagram at its arrival time; what it sends to the repeater is
// caught on loopback with the time it left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "support/test_support.h"
#include "support/voice_packets.h"
#include "voice/hytera_to_moto.h"

namespace gridtest {

using voicetest::Bytes;

inline const unsigned char kKey[20] = {0x11, 0x22, 0x33, 0x44, 5,  6,  7,  8,  9,  10,
                                       11,   12,   13,   14,   15, 16, 17, 18, 19, 20};
constexpr long long kStartUs = 1000LL * 1000000LL;
inline long long fake_us;

struct Sent {
  long long at_ms;  // since the bench's start
  Bytes d;
};

struct Arrival {
  long long at_us;  // since the bench's start
  Bytes d;
};

inline uint16_t rtp_sequence(const Bytes& d) { return static_cast<uint16_t>(d[20] << 8 | d[21]); }
inline uint32_t rtp_time(const Bytes& d) {
  return static_cast<uint32_t>(d[22]) << 24 | d[23] << 16 | d[24] << 8 | d[25];
}
inline bool is_voice(const Bytes& d) { return d.size() == 62 || d.size() == 67 || d.size() == 76; }

inline voicetest::Frame49 silence_frame() {
  const char bits[] = "1111100000000001101010011001111110001100111000001";
  voicetest::Frame49 f{};
  for (unsigned int i = 0; i < 49; ++i) f[i] = bits[i] == '1';
  return f;
}

inline bool is_silence(const Bytes& d) {
  const voicetest::BurstFrames f = voicetest::moto_frames(d);
  return f[0] == silence_frame() && f[1] == silence_frame() && f[2] == silence_frame();
}

// The voice thread from its start, with the jitter-buffer setting `mode`,
// on a clock at kStartUs that only the test moves.
inline void start_thread_on_fake_clock(int32_t mode, int bridge_fd, const sockaddr_in& repeater) {
  voicetest::prepare_network_voice(kKey, bridge_fd, repeater);
  fake_us = kStartUs;
  v2m_clock = [](timeval* t) {
    *t = timeval{static_cast<time_t>(fake_us / 1000000), static_cast<suseconds_t>(fake_us % 1000000)};
  };
  v2m_sleep_us = [](unsigned int us) { fake_us += us; };
  JitterBuffer = mode;
  v2m_reset();
  v2m_seq_num = 0;
}

class GridBench {
 public:
  explicit GridBench(int32_t mode) { start_thread_on_fake_clock(mode, bridge_.fd(), repeater_.address()); }
  ~GridBench() {
    Quorvix_sock = -1;
    JitterBuffer = JITTER_BUFFER_OFF;
  }
  GridBench(const GridBench&) = delete;
  GridBench& operator=(const GridBench&) = delete;

  // Plays the arrivals in time order, the thread waking at each deadline in
  // between, then runs on to `until_us`. While the clock is inside
  // [stall_from_us, stall_to_us) the thread is held up: it sleeps through
  // every deadline, and what arrives meanwhile waits in the socket.
  void play(std::vector<Arrival> arrivals, long long until_us, long long stall_from_us = -1,
            long long stall_to_us = -1) {
    for (Arrival& a : arrivals)
      if (a.at_us >= stall_from_us && a.at_us < stall_to_us) a.at_us = stall_to_us;
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.at_us < b.at_us; });
    stall_from_ = stall_from_us;
    stall_to_ = stall_to_us;
    log += capture_stdout([&] {
      for (const Arrival& a : arrivals) {
        run_until(a.at_us);
        memcpy(v2m_Buffer, a.d.data(), a.d.size());
        v2m_handle_datagram(static_cast<int>(a.d.size()));
        collect();
      }
      run_until(until_us);
    });
  }

  bool logged(const std::string& part) const { return log.find(part) != std::string::npos; }

  std::vector<Sent> sent;
  std::string log;

 private:
  // A thread that slept past `us` (pacing) takes what came meanwhile late:
  // the clock never goes back.
  void run_until(long long us) {
    timeval at{};
    while (v2m_next_deadline(&at)) {
      long long due = static_cast<long long>(at.tv_sec) * 1000000LL + at.tv_usec - kStartUs;
      if (due >= stall_from_ && due < stall_to_) due = stall_to_;
      if (due > us) break;
      fake_us = std::max(fake_us, kStartUs + due);
      v2m_send_due();
      collect();
    }
    fake_us = std::max(fake_us, kStartUs + us);
  }

  // Loopback datagrams are queued by the time the send returns.
  void collect() {
    for (Bytes d = repeater_.receive(0); !d.empty(); d = repeater_.receive(0))
      sent.push_back({(fake_us - kStartUs) / 1000, d});
  }

  LoopbackSocket bridge_;
  LoopbackSocket repeater_;
  long long stall_from_ = -1, stall_to_ = -1;
};

// A talker's stream as the master sends it: header, bursts A..F over and
// over with frames of their own, terminator; `gap_us` apart, numbered from
// `first_sequence`.
struct Talk {
  voicetest::Call call;
  uint16_t first_sequence = 1;
  int bursts = 40;
  long long start_us = 0;
  long long gap_us = 60000;
  bool header = true, terminator = true;
};

struct Played {
  std::vector<Arrival> arrivals;
  std::vector<voicetest::BurstFrames> frames;  // of burst n
  std::vector<long long> burst_at_us;          // arrival of burst n
  long long end_at_us = 0;
};

// The talk's packets. `renumber(n, sequence)` may change burst n's number
// (and so every later one's); `delay_us(n)` adds to burst n's arrival.
template <typename Renumber, typename Delay>
Played play_talk(const Talk& t, std::mt19937& rng, Renumber renumber, Delay delay_us) {
  Played p;
  uint16_t sequence = t.first_sequence;
  long long at = t.start_us;
  if (t.header) p.arrivals.push_back({at, voicetest::hytera_header(t.call, sequence++)});
  for (int n = 0; n < t.bursts; ++n) {
    at = t.start_us + (t.header ? 1 : 0) * t.gap_us + static_cast<long long>(n) * t.gap_us;
    sequence = renumber(n, sequence);
    p.frames.push_back(voicetest::random_burst(rng));
    p.burst_at_us.push_back(at + delay_us(n));
    p.arrivals.push_back(
        {at + delay_us(n),
         voicetest::hytera_burst(t.call, sequence++, 1 + static_cast<unsigned>(n % 6), p.frames.back())});
  }
  p.end_at_us = at + t.gap_us;
  if (t.terminator) p.arrivals.push_back({p.end_at_us, voicetest::hytera_end(t.call, sequence)});
  return p;
}

inline Played play_talk(const Talk& t, std::mt19937& rng) {
  return play_talk(
      t, rng, [](int, uint16_t s) { return s; }, [](int) { return 0LL; });
}

// The figures of a call's "Jitter buffer <n> end:" line; all -1 when absent.
struct EndLine {
  int lead = -1, bursts = -1, late = -1, lost = -1, filled = -1, slipped = -1, skipped = -1, re_anchored = -1;
};

inline EndLine end_line(const std::string& log, int call) {
  EndLine e;
  const std::string head = " Jitter buffer " + std::to_string(call) + " end: ";
  const size_t at = log.find(head);
  if (at == std::string::npos) return e;
  std::sscanf(log.c_str() + at + head.size(),
              "lead %d ms, bursts %d, late %d, lost %d, filled %d, slipped %d, skipped %d, re-anchored %d", &e.lead,
              &e.bursts, &e.late, &e.lost, &e.filled, &e.slipped, &e.skipped, &e.re_anchored);
  return e;
}

// Where each burst of a talk went on air: the index of the datagram that
// carries its frames, or -1.
inline std::vector<int> on_air_index(const Played& p, const std::vector<Sent>& sent) {
  std::map<voicetest::BurstFrames, int> by_frames;
  for (size_t i = 0; i < sent.size(); ++i)
    if (is_voice(sent[i].d)) by_frames.emplace(voicetest::moto_frames(sent[i].d), static_cast<int>(i));
  std::vector<int> where;
  for (const voicetest::BurstFrames& f : p.frames) {
    auto it = by_frames.find(f);
    where.push_back(it == by_frames.end() ? -1 : it->second);
  }
  return where;
}

}  // namespace gridtest
