#include "main/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "main/config.h"

char LISTEN_IP[16];
int Local_Repeater_srv_sock = -1;
int Local_Repeater_audio_srv_sock = -1;
int Local_Repeater_rdac_srv_sock = -1;
int Quorvix_sock = -1;

namespace {

int open_nonblocking_listener(int* sock, int port, const char* creation_message) {
  *sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (*sock < 0) {
    printf(creation_message, errno);
    return 1;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr(LISTEN_IP);
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(*sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    printf("Failed to bind server socket on IP %s, port %d, errno=%d\n", LISTEN_IP, port, errno);
    close(*sock);
    *sock = -1;
    return 1;
  }
  fcntl(*sock, F_SETFL, O_NONBLOCK);
  return 0;
}

}  // namespace

int Local_Repeater_srv_open() {
  return open_nonblocking_listener(&Local_Repeater_srv_sock, LISTEN_REPEATER_PORT,
                                   "Failed to create server socket, errno=%d\n");
}

int Local_Repeater_rdac_srv_open() {
  return open_nonblocking_listener(&Local_Repeater_rdac_srv_sock, LISTEN_REPEATER_rdac_PORT,
                                   "Failed to create rdac server socket2, errno=%d\n");
}

int Quorvix() {
  return open_nonblocking_listener(&Quorvix_sock, RptrPort, "Failed to create server socket2, errno=%d\n");
}

// The voice socket stays blocking: its reader sleeps in the receive. A failed
// bind goes unnoticed here; the system then picks a port at the first send.
int Local_Repeater_audio_srv_open() {
  Local_Repeater_audio_srv_sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (Local_Repeater_audio_srv_sock < 0) {
    printf("Failed to create server socket2, errno=%d\n", errno);
    return 1;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(LISTEN_REPEATER_AUDIO_PORT);
  (void)bind(Local_Repeater_audio_srv_sock, reinterpret_cast<sockaddr*>(&local), sizeof local);
  return 0;
}
