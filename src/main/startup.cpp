#include "main/startup.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "ipsc/control_packets.h"
#include "ipsc/ipsc_peer.h"
#include "main/config.h"
#include "main/host_info.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/thread_wait.h"
#include "master_link/rdac.h"
#include "master_link/service_port.h"
#include "voice/hytera_to_moto.h"
#include "voice/location_data.h"
#include "voice/moto_to_hytera.h"

char RptrFw[13];

namespace {

bool open_sockets() {
  if (Local_Repeater_srv_open() != 0) {
    puts("* Local_Repeater_srv_open() failed");
    return false;
  }
  if (Local_Repeater_audio_srv_open() != 0) {
    puts("Local_Repeater_audio_srv_open() failed");
    return false;
  }
  if (Local_Repeater_rdac_srv_open() != 0) {
    puts("Local_Repeater_rdac_srv_open() failed");
    return false;
  }
  if (Quorvix() != 0) {
    puts("Quorvix_srv_open failed");
    return false;
  }
  return true;
}

void print_banner(void (*sleep_us)(unsigned)) {
  printf("\n\nVEXAQuorvix %s initialized...entering processing id %s\n", BRIDGE_VERSION, "");
  printf("%sTIMER SET Please Wait%s, %s8sek\n", "\033[4;32m", "\033[0m", "\033[1;36m");
  draw_progress_bar(sleep_us);
  printf("%s", "\033[0m");
  printf("\033[1;32m[ OK ]\033[0m Initializing...\n\n");
  print_host_info();
}

}  // namespace

bool run_startup(void (*sleep_us)(unsigned)) {
  refresh_ts();
  printf("Date: %s\n", ts);
  strcpy(LISTEN_IP, "0.0.0.0");
  puts("Initialize Golay-23-12 table");
  init_Golay_23_12();
  printf("Read Configfile %s\n", CONFIG_FILE_NAME);
  if (read_config() != 1) {
    printf("Can not read Configfile %s\n", CONFIG_FILE_NAME);
    return false;
  }
  snprintf(RptrFw, sizeof RptrFw, "%s%s", "VEXA QV ", BRIDGE_VERSION);
  if (open_sockets()) {
    prepare_control_packets();
    print_banner(sleep_us);
  }
  printf("%s", "\033[0m");
  return true;
}

namespace {

void reset_repeater_side_paths() {
  reset_moto_to_hytera();
  reset_location_data();
}

}  // namespace

void connect_voice_paths() {
  ipsc_set_handlers(IpscHandlers{handle_moto_voice, handle_location_data, reset_repeater_side_paths});
}

void start_worker_threads() {
  connect_voice_paths();
  Start_rdac_signal = wake_signal_open();
  pthread_t thread;
  pthread_create(&thread, nullptr, send_voice_to_hytera, nullptr);
  pthread_create(&thread, nullptr, repeater_rdac, nullptr);
  pthread_create(&thread, nullptr, localrepeater_handler, nullptr);
  pthread_create(&thread, nullptr, send_voice_to_motorola, nullptr);
}

int bridge_main() {
  // The console log is the operator's only window: every line reaches a pipe
  // or the journal as soon as it is complete.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!run_startup([](unsigned us) { usleep(us); })) return 0;
  start_worker_threads();
  supervision_loop();
}
