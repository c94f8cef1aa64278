#pragma once
// Position reports that radios send as data calls on a bridged timeslot: the
// blocks of a report are collected, the latitude, longitude and speed text is
// logged, and a short location record goes to the network master. Each
// timeslot collects its own reports; the record itself does not say the slot.

constexpr int LOCATION_BUFFER_SIZE = 96;  // second to seventh block after a header
constexpr int LOCATION_RECORD_SIZE = 66;

// The Motorola data-call packet (opcode 0x84) beyond the fields it shares
// with the voice packets (moto_voice_packet.h): the data type in the low six
// bits of the burst-type byte, and one 16-byte block of the report.
constexpr unsigned int MOTO_DATA_TYPE_HEADER = 6;
constexpr unsigned int MOTO_DATA_TYPE_BLOCK = 8;
constexpr int MOTO_OFS_DATA_BLOCK = 38;
constexpr int MOTO_DATA_BLOCK_LEN = 16;

// The location record sent to the master: the peer identifier as text
// ("%i6.6", its seventh character replaced by 'Q'), the call's identifiers
// (big-endian, where the text leaves them), the first nine characters of the
// latitude and longitude texts, a fixed '2' and the reporting-mode digit.
constexpr int LOCREC_OFS_PEER_TEXT = 0;
constexpr int LOCREC_PEER_TEXT_CAPACITY = 15;  // "-2147483648" "6.6" and its zero byte
constexpr int LOCREC_OFS_Q = 6;
constexpr int LOCREC_OFS_DESTINATION = 9;  // 3 bytes
constexpr int LOCREC_OFS_SOURCE = 25;      // 3 bytes
constexpr int LOCREC_OFS_LATITUDE = 43;
constexpr int LOCREC_OFS_LONGITUDE = 53;
constexpr int LOCREC_COORDINATE_LEN = 9;
constexpr int LOCREC_OFS_FORMAT = 62;  // '2'
constexpr int LOCREC_OFS_MODE = 63;    // '4', '1', '2' or '0'

// Timeslot 2's report: the stored blocks, and the record built in place and
// kept between reports.
extern unsigned char location_buffer[LOCATION_BUFFER_SIZE];
extern unsigned char location_record[LOCATION_RECORD_SIZE];

// Destination port of the record at MasterIP; the master's voice port.
extern int location_record_port;

// Handles one Motorola datagram with opcode 0x84 of `length` bytes (more than
// 16). Returns 1 when the receive loop's turn goes on, 0 when it ends at once
// (the skipped first block after a header, or a data type other than header
// or block).
int handle_location_data(const unsigned char* packet, int length);

// Clears every piece of report state: buffer, counters, texts and record.
void reset_location_data();
