#pragma once
// The five IPSC control datagrams. They are signed once at start-up, after
// the configuration is read, and sent unchanged for the rest of the run.
// Below them, the opcodes and fields of everything the IPSC peer protocol
// exchanges with the repeater (voice and data calls: moto_voice_packet.h).

// ---- Opcodes (byte 0)

constexpr unsigned char IPSC_REGISTRATION_REQUEST = 0x90;
constexpr unsigned char IPSC_PEER_LIST_REQUEST = 0x92;
constexpr unsigned char IPSC_PEER_LIST_REPLY = 0x93;
constexpr unsigned char IPSC_PEER_REGISTRATION_REQUEST = 0x94;
constexpr unsigned char IPSC_PEER_REGISTRATION_REPLY = 0x95;
constexpr unsigned char IPSC_KEEPALIVE_REQUEST = 0x96;
constexpr unsigned char IPSC_KEEPALIVE_REPLY = 0x97;
constexpr unsigned char IPSC_PEER_KEEPALIVE_REQUEST = 0x98;
constexpr unsigned char IPSC_PEER_KEEPALIVE_REPLY = 0x99;
constexpr unsigned char IPSC_DATA_CALL = 0x84;  // position reports

// ---- Fields

constexpr unsigned int IPSC_OFS_OPCODE = 0;
constexpr unsigned int IPSC_OFS_PEER_ID = 1;  // 4 bytes, big-endian
constexpr unsigned int IPSC_OFS_MODE = 5;     // start-up sets IPSC_MODE_BIT in three of the packets
constexpr unsigned char IPSC_MODE_BIT = 0x02;
// The registration reply is known by its length alone, whatever its opcode.
constexpr int IPSC_REGISTRATION_REPLY_LEN = 26;
// Datagrams of this length or shorter carry no message the bridge reads.
constexpr int IPSC_SHORTEST_IGNORED = 16;
// Peer list: byte 6 is the length of the entries that follow from byte 7;
// an entry is peer ID (4), IPv4 address (4), port (2, big-endian), 1 unused.
constexpr unsigned int IPSC_OFS_PEER_LIST_LEN = 6;
constexpr unsigned int IPSC_OFS_PEER_LIST = 7;
constexpr unsigned int IPSC_PEER_ENTRY_LEN = 11;
constexpr unsigned int IPSC_PEER_ENTRY_OFS_ADDRESS = 4;
constexpr unsigned int IPSC_PEER_ENTRY_OFS_PORT = 8;

// Signed lengths of the five packets; each is sent with its 10-byte trailer.
constexpr unsigned int IPSC_START_SIGNED = 14;
constexpr unsigned int IPSC_START2_SIGNED = 5;
constexpr unsigned int IPSC_START_HB_SIGNED = 14;
constexpr unsigned int IPSC_PEER_95_SIGNED = 9;
constexpr unsigned int IPSC_PEER_99_SIGNED = 10;

extern unsigned char start[24];     // registration request (0x90)
extern unsigned char start2[15];    // peer-list request (0x92)
extern unsigned char start_hb[24];  // keep-alive request (0x96)
extern unsigned char peer_95[19];   // answer to another peer's registration
extern unsigned char peer_99[20];   // answer to another peer's keep-alive

// Sets the mode bit, writes MyBridgeID into each packet and signs it with Key.
void prepare_control_packets();
