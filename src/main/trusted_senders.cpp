#include "main/trusted_senders.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "main/config.h"
#include "main/log_time.h"
#include "main/udp_io.h"

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

// A sender of this window and its datagrams; address 0 marks a free entry.
struct WindowSender {
  uint32_t address;
  unsigned count;
};

struct PortDrops {
  std::atomic<int> port{0};  // 0 while the slot is free
  // The rest belongs to the thread that reads the port.
  bool window_open = false;
  int64_t window_start_ms = 0;
  unsigned dropped = 0;  // datagrams in this window
  unsigned senders = 0;  // distinct senders in this window
  unsigned lines = 0;    // first-drop lines printed in this window
  unsigned zero_sender_count = 0;
  // The sender with the most datagrams so far: the summary names it, so
  // that the operator knows whom to keep out.
  uint32_t busiest_address = 0;
  unsigned busiest_count = 0;
  WindowSender window_senders[kWindowSenders] = {};
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

// Counts one datagram of the sender in this window; true when the sender is new.
bool count_window_sender(PortDrops& p, uint32_t address) {
  unsigned* count = &p.zero_sender_count;
  bool fresh = false;
  if (address != 0) {
    count = nullptr;
    unsigned index = (address * 0x9E3779B1u) >> (32 - kWindowSenderBits);
    for (unsigned probe = 0; probe < kMaxProbes && count == nullptr;
         ++probe, index = (index + 1) & (kWindowSenders - 1)) {
      WindowSender& entry = p.window_senders[index];
      if (entry.address == 0) {
        entry.address = address;
        fresh = true;
      }
      if (entry.address == address) count = &entry.count;
    }
    if (count == nullptr) return true;  // table crowded: counted as new, so the count errs high, never low
  } else {
    fresh = p.zero_sender_count == 0;
  }
  if (++*count > p.busiest_count) {
    p.busiest_count = *count;
    p.busiest_address = address;
  }
  return fresh;
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
  p.zero_sender_count = 0;
  p.busiest_address = 0;
  p.busiest_count = 0;
}

// A minute whose every drop already had its own line needs no summary.
bool summary_pending(const PortDrops& p) { return p.window_open && p.dropped > p.lines; }

void flush_slot(PortDrops& p, int local_port, int64_t now_ms) {
  if (!p.window_open || now_ms - p.window_start_ms < DROP_SUMMARY_INTERVAL_MS) return;
  if (summary_pending(p)) {
    in_addr busiest{};
    busiest.s_addr = p.busiest_address;
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &busiest, dotted, sizeof dotted);
    refresh_ts();
    printf("%s Dropped on port %d in the last minute: %u datagrams from %u senders, most from %s (%u)\n", ts,
           local_port, p.dropped, p.senders, dotted, p.busiest_count);
  }
  close_window(p);
}

const char* reason_text(DropReason reason) {
  switch (reason) {
    case DropReason::kBadSignature:
      return "bad signature";
    case DropReason::kNotNetworkMaster:
      return "not the network master";
    case DropReason::kTooLong:
      return "too long";
    case DropReason::kReflected:
      return "reflected";
    case DropReason::kUnaskedKeepAliveReply:
      return "keep-alive reply not asked for";
  }
  return "dropped";
}

thread_local AddressSetting master_address;

}  // namespace

int64_t (*drop_report_clock_ms)() = steady_ms;

bool is_network_master(const sockaddr_in& from) { return from.sin_addr.s_addr == address_of(master_address, MasterIP); }

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
         reason_text(reason));
}

ssize_t receive_from_master(int sock, unsigned char* buffer, size_t capacity, sockaddr_in* from, int local_port) {
  for (int tries = 0; tries < MASTER_PORT_DROPS_PER_TURN; ++tries) {
    sockaddr_in sender{};
    const ssize_t length = udp_receive(sock, buffer, capacity, &sender);
    if (length < 0) return -1;
    if (accept_from_master(sender, local_port)) {
      *from = sender;
      return length;
    }
  }
  return -1;
}

void flush_drop_summary(int local_port) {
  PortDrops* p = slot_of(local_port, false);
  if (p == nullptr || !p->window_open) return;
  flush_slot(*p, local_port, drop_report_clock_ms());
}

int64_t drop_summary_due_ms(int local_port) {
  const PortDrops* p = slot_of(local_port, false);
  if (p == nullptr || !summary_pending(*p)) return NO_DROP_SUMMARY_DUE;
  return p->window_start_ms + DROP_SUMMARY_INTERVAL_MS;
}

void reset_drop_reports() {
  for (PortDrops& p : ports) {
    close_window(p);
    memset(p.window_senders, 0, sizeof p.window_senders);
    p.named_count = p.named_next = 0;
    p.port.store(0, std::memory_order_release);
  }
}
