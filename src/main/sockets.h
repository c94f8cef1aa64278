#pragma once
// The four UDP sockets of the bridge. Each descriptor is -1 until opened.

constexpr int LISTEN_REPEATER_PORT = 62005;        // service port, drained only
constexpr int LISTEN_REPEATER_AUDIO_PORT = 62006;  // voice, login "A", RDAC sends
constexpr int LISTEN_REPEATER_rdac_PORT = 62007;   // RDAC answers

extern char LISTEN_IP[16];
extern int Local_Repeater_srv_sock;
extern int Local_Repeater_audio_srv_sock;
extern int Local_Repeater_rdac_srv_sock;
extern int Quorvix_sock;

// Each opener returns 0 on success and 1 on failure, printing why.
int Local_Repeater_srv_open();
int Local_Repeater_audio_srv_open();
int Local_Repeater_rdac_srv_open();
int Quorvix();
