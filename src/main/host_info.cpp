#include "main/host_info.h"

#include <sys/sysinfo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

long get_mem_total() {
  struct sysinfo info {};
  sysinfo(&info);
  // 64-bit product: boards with 4 GiB or more would wrap a 32-bit one.
  uint64_t bytes = static_cast<uint64_t>(info.totalram) * info.mem_unit;
  return static_cast<long>(bytes >> 20);
}

void draw_progress_bar(void (*sleep_us)(unsigned)) {
  constexpr int kBarWidth = 70;
  float progress = 0.0f;
  while (progress < 1.0f) {
    sleep_us(10000);
    fputs("[", stdout);
    int pos = static_cast<int>(static_cast<float>(kBarWidth) * progress);
    for (int i = 0; i < kBarWidth; ++i) {
      if (i < pos)
        fputs("=", stdout);
      else if (i == pos)
        fputs(">", stdout);
      else
        fputs(" ", stdout);
    }
    printf("] %d %%\r", static_cast<int>(static_cast<double>(progress) * 100.0));
    fflush(stdout);
    progress = static_cast<float>(static_cast<double>(progress) + 0.01);
  }
  fputs("\n", stdout);
  fflush(stdout);
}

namespace {

void run_shell(const char* command) {
  fflush(stdout);
  if (system(command) == -1) return;
}

}  // namespace

void print_host_info() {
  printf("\033[1m[INFO]\033[0m CPU name: ");
  run_shell(
      "grep -i --color 'model name' /proc/cpuinfo | uniq | sed -e 's/model name//' | sed -e 's/: "
      "//' | sed -e 's/  / /g' | sed -e 's/@.*//'");
  printf("\n\n");
  printf("\033[1m[INFO]\033[0m CPU speed: ");
  run_shell(
      "grep -i --color 'cpu MHz' /proc/cpuinfo | uniq | sed -e 's/cpu //' | sed -e 's/: //' | sed "
      "-e 's/  / /g' | sed -e 's/@.*//'");
  printf("\n\n");
  long mem = get_mem_total();
  if (mem == 0)
    printf("Konnte RAM nicht ermitteln\n\n");
  else
    printf("Vorhandener Arbeitsspeicher: %ldMB\n\n", mem);
}
