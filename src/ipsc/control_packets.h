#pragma once
// The five IPSC control datagrams. They are signed once at start-up, after
// the configuration is read, and sent unchanged for the rest of the run.

extern unsigned char start[24];     // registration request (0x90)
extern unsigned char start2[15];    // peer-list request (0x92)
extern unsigned char start_hb[24];  // keep-alive request (0x96)
extern unsigned char peer_95[19];   // answer to another peer's registration
extern unsigned char peer_99[20];   // answer to another peer's keep-alive

// Sets the mode bit, writes MyBridgeID into each packet and signs it with Key.
void prepare_control_packets();
