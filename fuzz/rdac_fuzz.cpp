// The RDAC answer path: what the thread that announces our repeater data
// does with each datagram on the RDAC port, as sequences interleaved with
// logins and announcement turns, since the schedule is state shared with
// the supervision loop.
//
// Record format (fuzz_support.h): the length byte is the datagram length
// (the receive limit, 300, is above any record); control bit 0: the master
// counts as logged in; bit 1: a login lands before the datagram; bit 2: the
// datagram is taken by a whole loop turn (announcement due first, its 6 s
// sleep skipped) rather than by the answer handler alone; bit 3: the
// receive failed (-1); bit 4: sent by another host (127.0.0.2) rather than
// the network master, so the address check must keep it from the handler.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "master_link/rdac.h"

namespace {

void no_sleep(unsigned) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_prepare_bridge();
  fuzz_quiet_stdout();
  fill_rdac_templates();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Start_rdac = 0;
  master_online = 0;
  unsigned char rdac225_before[RDAC225_LENGTH];
  unsigned char rdac71_before[RDAC71_LENGTH];
  memcpy(rdac225_before, rdac225, sizeof rdac225);
  memcpy(rdac71_before, rdac71, sizeof rdac71);

  FuzzRecords records(data, size);
  FuzzRecord record;
  while (records.next(&record)) {
    master_online = (record.control & 1) ? 1 : 0;
    if (record.control & 2) Start_rdac = 1;
    memset(rdacBuffer, 0, sizeof rdacBuffer);
    memcpy(rdacBuffer, record.data, record.size);
    long length = (record.control & 8) ? -1 : static_cast<long>(record.size);

    if (record.control & 4) {
      // A whole turn: the receive on the unopened socket finds nothing, so
      // the datagram is handed to the answer handler right after it.
      int before = Start_rdac;
      rdac_turn(no_sleep);
      if (before > 0)
        FUZZ_CHECK(Start_rdac == (before + 1 > 4 ? 0 : before + 1));
      else
        FUZZ_CHECK(Start_rdac == 0);
    }
    int before = Start_rdac;
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = htonl((record.control & 16) ? INADDR_LOOPBACK + 1 : INADDR_LOOPBACK);
    sender.sin_port = htons(62007);
    const bool from_master = rdac_answer_trusted(sender);
    FUZZ_CHECK(from_master == !(record.control & 16));
    if (from_master) rdac_handle_answer(length);
    flush_drop_summary(LISTEN_REPEATER_rdac_PORT);
    // Only the master's 24-byte answer while logged in ends the schedule; nothing else touches it.
    FUZZ_CHECK(Start_rdac == ((from_master && length == 24 && master_online > 0) ? 0 : before));
    FUZZ_CHECK(Start_rdac >= 0 && Start_rdac <= 4);
  }
  // Answers never change what is announced.
  FUZZ_CHECK(memcmp(rdac225_before, rdac225, sizeof rdac225) == 0);
  FUZZ_CHECK(memcmp(rdac71_before, rdac71, sizeof rdac71) == 0);
  return 0;
}
