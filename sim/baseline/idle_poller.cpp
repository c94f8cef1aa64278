// moto_bridge_idle_baseline: what the daemon's polling rhythm costs by
// itself. Four threads sleep and poll as the daemon's loops do (5 ms, 2 ms
// and 1 ms usleep loops with one non-blocking receive each, and a 1 s loop)
// on sockets that never receive anything. Runs for the given seconds.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> running{true};

int idle_socket() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);  // any free port
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

void poll_loop(unsigned sleep_us) {
  const int fd = idle_socket();
  unsigned char buffer[300];
  while (running) {
    usleep(sleep_us);
    recv(fd, buffer, sizeof buffer, 0);
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  std::thread a(poll_loop, 5000), b(poll_loop, 2000), c(poll_loop, 1000);
  for (int i = 0; i < seconds; ++i) sleep(1);
  running = false;
  a.join();
  b.join();
  c.join();
  return 0;
}
