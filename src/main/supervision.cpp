#include "main/supervision.h"

#include <unistd.h>

#include <cstdio>

#include "main/config.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/thread_wait.h"
#include "main/udp_io.h"

std::atomic<int> master_online{0};
std::atomic<int> master_timer{0};
std::atomic<int> motorola_repeater_online{0};
std::atomic<int> Start_rdac{0};
int Start_rdac_signal = -1;
int debug = 1;

void supervision_turn() {
  if (master_online == 0 && motorola_repeater_online > 0) {
    refresh_ts();
    printf("%s Sende Anmeldung an DMR Master  IP:%s\n", ts, MasterIP);
    udp_send_to(Local_Repeater_audio_srv_sock, "A", 1, MasterIP, LISTEN_REPEATER_AUDIO_PORT);
    master_timer = 30;
    master_online = 1;
    Start_rdac = 1;
    wake_signal_raise(Start_rdac_signal);
  }
  if (master_online > 0) --master_timer;
  if (master_timer <= 1) {
    master_timer = 0;
    master_online = 0;
  }
  if (motorola_repeater_online > 0) --motorola_repeater_online;
  if (motorola_repeater_online <= 1) master_online = 0;
}

void supervision_loop() {
  for (;;) {
    sleep(1);
    supervision_turn();
  }
}
