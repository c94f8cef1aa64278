#pragma once
// Start-up console output about the host and the wait bar.

// Total RAM in MiB, or 0 when it cannot be determined.
long get_mem_total();

// The one-second progress bar of start-up; sleep_us lets tests skip the waits.
void draw_progress_bar(void (*sleep_us)(unsigned));

// CPU name, CPU speed and RAM lines.
void print_host_info();
