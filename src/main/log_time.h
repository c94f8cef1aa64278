#pragma once
// The time text that starts every event line of the console log. Each thread
// keeps its own copy, so one thread's refresh never tears another's line.
#include <ctime>

extern thread_local time_t t;
extern thread_local char ts[26];

// Reads the clock into t and writes the asctime text of local time into ts,
// without its trailing line feed (24 characters, weekday to year).
void refresh_ts();

// What a log line about a call adds to say which timeslot it is on:
// nothing for timeslot 2 (its lines are as they have always been),
// " slot:1" for timeslot 1.
const char* slot_suffix(unsigned int slot);
