#pragma once
// RDAC announcements to the network master after each login: two fixed-layout
// datagrams carrying call sign, repeater identifier, frequencies, firmware and
// model, sent four times 6 seconds apart unless the master answers.
#include <netinet/in.h>

constexpr int RDAC225_LENGTH = 225;
constexpr int RDAC71_LENGTH = 71;
constexpr int RDAC_RECEIVE_LIMIT = 300;
constexpr int RDAC_ANSWER_LENGTH = 24;  // the master's acknowledgement

// Fields filled at thread start; every other byte goes out as the template
// holds it. Texts are UTF-16LE, one character per 16-bit unit.
constexpr int RDAC225_OFS_FIRMWARE = 56;  // 16 characters, 12 from RptrFw
constexpr int RDAC225_FIRMWARE_CHARS = 12;
constexpr int RDAC225_OFS_CALL = 88;    // 16 characters
constexpr int RDAC225_OFS_MODEL = 120;  // 32 characters, the first 5 from RptrModel
constexpr int RDAC225_MODEL_CHARS = 5;
constexpr int RDAC71_OFS_REPEATER_ID = 18;  // 3 bytes, little-endian
constexpr int RDAC71_OFS_PEER_ID_LOW = 21;  // least significant byte of MyBridgeID
constexpr int RDAC71_OFS_TX_HZ = 29;        // 4 bytes, little-endian
constexpr int RDAC71_OFS_RX_HZ = 33;        // 4 bytes, little-endian
constexpr int RDAC71_OFS_CALL = 37;         // 16 characters
constexpr int RDAC_CALL_CHARS = 16;

extern unsigned char rdac225[RDAC225_LENGTH];
extern unsigned char rdac71[RDAC71_LENGTH];
extern const char RptrModel[6];                       // "RovEr"
extern unsigned char rdacBuffer[RDAC_RECEIVE_LIMIT];  // answers on the RDAC port
extern sockaddr_in fromRepeater_rdac_srv;             // sender of the last answer taken

// Destination port of the announcements at MasterIP; the master's RDAC port.
extern int rdac_master_port;

// Writes the configured call sign, firmware and model texts, repeater and peer
// identifiers and both frequencies into the two templates. Repeating it with
// the same settings gives the same bytes.
void fill_rdac_templates();

// What one receive on the RDAC port brought (`length` as the receive returned
// it, -1 for nothing; the bytes are in rdacBuffer): a 24-byte answer while
// logged in ends the announcements.
void rdac_handle_answer(long length);

// True when a datagram on the RDAC port from `sender` may be taken as an
// answer: only the network master's (MasterIP, any port) may end the
// announcements. Others are reported as "not the network master".
bool rdac_answer_trusted(const sockaddr_in& sender);

// One turn of the announcement loop: the announcement
// due (after sleep_s(6)), then one receive on the RDAC port. Datagrams from
// others than the master are read and discarded on the way (a bounded number
// per turn) and never reach rdac_handle_answer.
void rdac_turn(void (*sleep_s)(unsigned));

// One step of the thread: unless announcements are due, waits for an answer
// or a login (Start_rdac_signal), then one turn.
void rdac_step(void (*sleep_s)(unsigned));

// Thread entry; never returns.
void* repeater_rdac(void*);
