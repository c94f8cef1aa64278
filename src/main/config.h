#pragma once
// Settings read once from the configuration file in the working directory.
#include <cstdint>

constexpr const char* CONFIG_FILE_NAME = "vexaqv.cfg";

extern char RptrCall[9];            // call sign announced to the network master
extern uint32_t RptrID;             // repeater identifier announced to the network master
extern char RptrIP[16];             // dotted address of the Motorola repeater
extern int32_t RptrPort;            // its UDP port, also our local IPSC port
extern char MasterIP[16];           // dotted address of the network master
extern int32_t RptrQRGtx;           // transmit frequency in hertz
extern int32_t RptrQRGrx;           // receive frequency in hertz
extern unsigned char MyBridgeID[4]; // our IPSC peer identifier, wire (big-endian) order
extern unsigned char Key[20];       // HMAC-SHA1 key that signs every IPSC datagram

// Reads the configuration file; 1 when exactly nine setting lines were
// accepted, 0 when the file cannot be opened or the count differs.
int read_config();
