#pragma once
// Position reports that radios send as data calls on timeslot 2: the blocks of
// a report are collected, the latitude, longitude and speed text is logged,
// and a short location record goes to the network master.

constexpr int LOCATION_BUFFER_SIZE = 96;   // second to seventh block after a header
constexpr int LOCATION_RECORD_SIZE = 66;

extern unsigned char location_buffer[LOCATION_BUFFER_SIZE];  // the stored blocks of the report
extern unsigned char location_record[LOCATION_RECORD_SIZE];  // built in place, kept between reports

// Destination port of the record at MasterIP; the master's voice port.
extern int location_record_port;

// Handles one Motorola datagram with opcode 0x84 of `length` bytes (more than
// 16). Returns 1 when the receive loop's turn goes on, 0 when it ends at once
// (the skipped first block after a header, or a data type other than header
// or block).
int handle_location_data(const unsigned char* packet, int length);

// Clears every piece of report state: buffer, counters, texts and record.
void reset_location_data();
