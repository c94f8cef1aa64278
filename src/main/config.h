#pragma once
// Settings read once from the configuration file in the working directory.
#include <netinet/in.h>

#include <cstdint>

constexpr const char* CONFIG_FILE_NAME = "vexaqv.cfg";

extern char RptrCall[9];             // call sign announced to the network master
extern uint32_t RptrID;              // repeater identifier announced to the network master
extern char RptrIP[16];              // dotted address of the Motorola repeater
extern int32_t RptrPort;             // its UDP port, also our local IPSC port
extern char MasterIP[16];            // dotted address of the network master
extern int32_t RptrQRGtx;            // transmit frequency in hertz
extern int32_t RptrQRGrx;            // receive frequency in hertz
extern unsigned char MyBridgeID[4];  // our IPSC peer identifier, wire (big-endian) order
extern unsigned char Key[20];        // HMAC-SHA1 key that signs every IPSC datagram

// Optional key JitterBuffer: how network calls reach the repeater. Not one
// of the nine settings; absent, each burst is relayed when it arrives.
constexpr int32_t JITTER_BUFFER_OFF = 0;    // key absent
constexpr int32_t JITTER_BUFFER_AUTO = -1;  // JitterBuffer=auto: lead chosen from the measured link
constexpr int32_t JITTER_BUFFER_MIN_MS = 20;
constexpr int32_t JITTER_BUFFER_MAX_MS = 480;
constexpr int32_t JITTER_BUFFER_START_MS = 120;  // auto's lead before anything was measured
extern int32_t JitterBuffer;                     // OFF, AUTO or a fixed lead in milliseconds

// Optional key Timeslots: which of the repeater's two timeslots cross the
// bridge, "2" (as when the key is absent), "1" or "1,2". Not one of the nine
// settings. One bit per timeslot, 1 << slot.
constexpr uint8_t TIMESLOT_1_BIT = 1u << 1;
constexpr uint8_t TIMESLOT_2_BIT = 1u << 2;
constexpr uint8_t TIMESLOTS_DEFAULT = TIMESLOT_2_BIT;
extern uint8_t Timeslots;

// One of the address settings (RptrIP, MasterIP) as the network-order
// address that per-datagram checks compare senders with. Each thread keeps
// its own cache, parsed again only when the setting's text changes.
struct AddressSetting {
  char text[16];
  in_addr_t address;
  bool known;
};
in_addr_t address_of(AddressSetting& cache, const char (&setting)[16]);

// True when calls on `slot` cross the bridge (only 1 and 2 ever can).
bool timeslot_bridged(unsigned slot);

// Reads the configuration file; 1 when exactly nine setting lines were
// accepted and no optional key had a bad value, 0 when the file cannot be
// opened, the count differs or an optional value was rejected.
int read_config();
