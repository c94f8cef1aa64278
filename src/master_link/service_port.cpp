#include "master_link/service_port.h"

#include <cstdio>

#include "main/sockets.h"
#include "main/thread_wait.h"
#include "main/trusted_senders.h"

unsigned char readBuffer[SERVICE_PORT_RECEIVE_LIMIT];
sockaddr_in fromRepeater_srv;

bool service_port_turn() {
  // The master's service requests are not understood here; reading them keeps
  // the socket's queue from filling, and the line shows they arrive. Anyone
  // else only gets into the bounded drop report, or a flood would fill the log.
  ssize_t length = receive_from_master(Local_Repeater_srv_sock, readBuffer, sizeof readBuffer, &fromRepeater_srv,
                                       LISTEN_REPEATER_PORT);
  if (length >= 1) puts("Local_Repeater_rdac ");
  flush_drop_summary(LISTEN_REPEATER_PORT);
  return length >= 0;
}

void* localrepeater_handler(void*) {
  name_this_thread("localrepeater");
  printf("%s", "\033[0;33m");
  puts("Start Local Repeater Modul  V1.34");
  printf("%s", "\033[0m");
  // A bounded batch per wake-up; the rest of a burst waits in the queue.
  for (;;) {
    wait_until(Local_Repeater_srv_sock, -1, with_drop_summary(WAIT_FOREVER, LISTEN_REPEATER_PORT));
    for (int n = 0; n < SERVICE_PORT_DATAGRAMS_PER_WAKE && service_port_turn(); ++n) {
    }
  }
}
