#include "main/trusted_senders.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "main/config.h"
#include "main/log_time.h"

namespace {

int64_t steady_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Everything is in fixed tables: a flood of forged datagrams must cost no
// allocation and no more than a few lines a minute.
constexpr unsigned kPorts = 8;
constexpr unsigned kNamedSenders = 64;  // senders that already had their line
constexpr unsigned kWindowSenderBits = 12;
constexpr unsigned kWindowSenders = 1u << kWindowSenderBits;  // distinct senders counted per minute
constexpr unsigned kMaxProbes = 64;

struct PortDrops {
  std::atomic<int> port{0};  // 0 while the slot is free
  // The rest belongs to the thread that reads the port.
  bool window_open = false;
  int64_t window_start_ms = 0;
  unsigned dropped = 0;  // datagrams in this window
  unsigned senders = 0;  // distinct senders in this window
  unsigned lines = 0;    // first-drop lines printed in this window
  bool zero_sender_seen = false;
  uint32_t window_senders[kWindowSenders] = {};  // 0 marks a free entry
  uint32_t named[kNamedSenders] = {};
  unsigned named_count = 0;
  unsigned named_next = 0;
};

PortDrops ports[kPorts];

PortDrops* slot_of(int local_port, bool claim) {
  for (PortDrops& p : ports)
    if (p.port.load(std::memory_order_acquire) == local_port) return &p;
  if (!claim) return nullptr;
  for (PortDrops& p : ports) {
    int expected = 0;
    if (p.port.compare_exchange_strong(expected, local_port, std::memory_order_acq_rel)) return &p;
    if (expected == local_port) return &p;
  }
  return nullptr;
}

// Adds the sender to this window's distinct senders; true when it is new.
bool count_window_sender(PortDrops& p, uint32_t address) {
  if (address == 0) {
    const bool fresh = !p.zero_sender_seen;
    p.zero_sender_seen = true;
    return fresh;
  }
  unsigned index = (address * 0x9E3779B1u) >> (32 - kWindowSenderBits);
  for (unsigned probe = 0; probe < kMaxProbes; ++probe, index = (index + 1) & (kWindowSenders - 1)) {
    if (p.window_senders[index] == address) return false;
    if (p.window_senders[index] == 0) {
      p.window_senders[index] = address;
      return true;
    }
  }
  return true;  // table crowded: counted as new, so the count errs high, never low
}

bool already_named(const PortDrops& p, uint32_t address) {
  for (unsigned i = 0; i < p.named_count; ++i)
    if (p.named[i] == address) return true;
  return false;
}

void remember_named(PortDrops& p, uint32_t address) {
  p.named[p.named_next] = address;
  p.named_next = (p.named_next + 1) % kNamedSenders;
  if (p.named_count < kNamedSenders) ++p.named_count;
}

void close_window(PortDrops& p) {
  if (p.senders > 0) memset(p.window_senders, 0, sizeof p.window_senders);
  p.window_open = false;
  p.dropped = p.senders = p.lines = 0;
  p.zero_sender_seen = false;
}

void flush_slot(PortDrops& p, int local_port, int64_t now_ms) {
  if (!p.window_open || now_ms - p.window_start_ms < DROP_SUMMARY_INTERVAL_MS) return;
  if (p.dropped > p.lines) {
    refresh_ts();
    printf("%s Dropped on port %d in the last minute: %u datagrams from %u senders\n", ts, local_port, p.dropped,
           p.senders);
  }
  close_window(p);
}

// MasterIP as an address, parsed again only when its text changes.
struct MasterAddress {
  char text[sizeof MasterIP];
  in_addr_t address;
  bool known;
};
thread_local MasterAddress master_address;

}  // namespace

int64_t (*drop_report_clock_ms)() = steady_ms;

bool is_network_master(const sockaddr_in& from) {
  MasterAddress& m = master_address;
  if (!m.known || memcmp(m.text, MasterIP, sizeof m.text) != 0) {
    memcpy(m.text, MasterIP, sizeof m.text);
    m.text[sizeof m.text - 1] = '\0';
    m.address = inet_addr(m.text);
    m.known = true;
  }
  return from.sin_addr.s_addr == m.address;
}

bool accept_from_master(const sockaddr_in& from, int local_port) {
  if (is_network_master(from)) return true;
  report_drop(from, local_port, DropReason::kNotNetworkMaster);
  return false;
}

void report_drop(const sockaddr_in& from, int local_port, DropReason reason) {
  PortDrops* p = slot_of(local_port, true);
  if (p == nullptr) return;  // more ports than slots: dropped all the same, just not told
  const int64_t now = drop_report_clock_ms();
  flush_slot(*p, local_port, now);
  if (!p->window_open) {
    p->window_open = true;
    p->window_start_ms = now;
  }
  ++p->dropped;
  const uint32_t address = from.sin_addr.s_addr;
  if (count_window_sender(*p, address)) ++p->senders;
  if (p->lines >= DROP_LINES_PER_MINUTE || already_named(*p, address)) return;
  remember_named(*p, address);
  ++p->lines;
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
  refresh_ts();
  printf("%s Dropped datagram from %s:%d on port %d: %s\n", ts, dotted, ntohs(from.sin_port), local_port,
         reason == DropReason::kBadSignature ? "bad signature" : "not the network master");
}

void flush_drop_summary(int local_port) {
  PortDrops* p = slot_of(local_port, false);
  if (p == nullptr || !p->window_open) return;
  flush_slot(*p, local_port, drop_report_clock_ms());
}

void reset_drop_reports() {
  for (PortDrops& p : ports) {
    close_window(p);
    memset(p.window_senders, 0, sizeof p.window_senders);
    p.named_count = p.named_next = 0;
    p.port.store(0, std::memory_order_release);
  }
}
