#pragma once
// The start-up sequence and the process spine.

constexpr const char* BRIDGE_VERSION = "1.00";

extern char RptrFw[13];  // firmware text announced over RDAC

// Start-up steps up to and including the banner and host information; false
// when the configuration is unreadable or invalid (the process then ends).
// A socket failure skips signing and banner but still returns true.
bool run_startup(void (*sleep_us)(unsigned));

// Hands the repeater-side receive loop the voice and position paths it
// passes datagrams on to.
void connect_voice_paths();

// Starts the worker threads with default attributes (after connecting the
// voice paths); they are never joined.
void start_worker_threads();

// Everything main does: start-up, threads, then the supervision loop.
int bridge_main();
