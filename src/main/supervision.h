#pragma once
// Link supervision shared by main and the worker threads. Each value is one
// word, read and written whole.
#include <atomic>

extern std::atomic<int> master_online;             // 1 while the network master counts as logged in
extern std::atomic<int> master_timer;              // seconds before the login counts as lapsed
extern std::atomic<int> motorola_repeater_online;  // seconds of Motorola link liveness left
extern std::atomic<int> Start_rdac;                // RDAC announcement schedule
// Raised with every Start_rdac = 1, so that the RDAC thread, waiting on its
// socket, starts the announcements at once. -1 until start-up opens it.
extern int Start_rdac_signal;
extern int debug;  // always 1: the lines it guards are printed

// One second's work of the supervision loop, without the sleep: logs in to the
// network master when due and ages both link timers.
void supervision_turn();

// The supervision loop: one turn a second, for ever.
[[noreturn]] void supervision_loop();
