#pragma once
// One recognised line of the daemon's console log, as plain fields.
#include <cstdint>

namespace monitor {

enum class LineKind {
  kUnrecognised,
  kSecret,       // NetworkKey / KeyBytes: dropped, never stored
  kDaemonStart,  // "Date: <time>"
  kGolayTable,   // "Initialize Golay-23-12 table", the line after the date
  kConfigValue,  // "RptrCall=[...]" and the other settings
  kConfigUnreadable,
  kConfigInvalid,
  kInitialized,  // "VEXAQuorvix 1.00 initialized..."
  kSocketError,
  kThreadStart,
  kPeerListReply,   // "Master peer list reply": the repeater has taken us in
  kPeerListSource,  // "SRC-ID:%d"
  kPeerEntryId,     // "PEER%d-ID:%d"
  kPeerEntryAddress,
  kPeerEntryPort,
  kTooManyPeers,
  kPeerRegistration,    // "Login PEER-ID:%d from IP:%s"
  kPeerKeepAlive,       // "Send 99 PEER-ID:%d IP:%s"
  kMasterKeepAlive,     // "Master keep alive request from master"
  kNotRegistered,       // "Repeater not registered, send registration ..."
  kLogin,               // "Sende Anmeldung an DMR Master  IP:%s"
  kRdacStep,            // "Local_Repeater_rdac %i"
  kRdacReceived,        // "Local_Repeater_rdac " (an answer or service-port data)
  kRfCallStart,         // "Moto RX+ slot:%u ..."
  kRfCallEnd,           // "Moto RX- ID:%i" (slot:1)
  kNetReceive,          // "RX SLOT=%i DST_ID=%i SRC_ID=%i TYPE=Voice"
  kNetReceiveEnd,       // "VOICE RX SLOT %i END USER_ID=%i"
  kNetCallStart,        // "PTT ON %d", "PTT ON without START %d" (slot:1)
  kNetCallEnd,          // "PTT OFF %d" (slot:1)
  kNetCallTimeout,      // "TX TIMEOUT %d" (slot:1)
  kBitErrorRate,        // "BER : %f%%" (slot:1)
  kUncorrectableFrame,  // "AMBE %u, Err_A = %d Err_B = %d" (slot:1)
  kSequenceGap,         // "F_err: %d %d", "Ferr: %d %d" (slot:1)
  kOutOfOrder,          // "O_err: %d %d" (slot:1)
  kDoubledId,           // "Doubling DMR-IDs: %d %d in %d/-1" (slot:1)
  kPacing,              // "add delay: %ldus to pacnum: %d" (slot:1)
  kJitterStart,         // "Jitter buffer %d start: lead %d ms (%s)" (slot:1)
  kJitterEnd,           // "Jitter buffer %d end: lead %d ms, bursts %d, late %d, lost %d, filled %d"
                        //   [", slipped %d, skipped %d, re-anchored %d"] (slot:1);
                        //   flag: with those three
  kDropped,             // "Dropped datagram from %s:%d on port %d: <reason>"
  // "Dropped on port %d in the last minute: %u datagrams from %u senders, most from %s (%u)";
  // older daemons end the line after "senders" (the busiest sender's address and count stay empty).
  kDropSummary,
  kPosition,         // "[%i]Decoded GPS ..." (slot:1)
  kEmbeddedLcError,  // "Bad Embedded Multi Block LC", "5bit-CRC failed", ...
  kKnownOther,       // banners, host information, progress bar, peer-list lengths
};

enum class DropReason { kBadSignature, kNotNetworkMaster, kTooLong, kReflected, kUnaskedKeepAliveReply, kOther };

// Settings the start-up echoes; NetworkKey is not among them on purpose.
enum class ConfigKey {
  kCall,
  kRepeaterId,
  kRepeaterIp,
  kRepeaterPort,
  kMasterIp,
  kTxHz,
  kRxHz,
  kBridgeId,
  kJitterBuffer,
  kTimeslots  // n[0]: the bridged timeslots as bits (1 << slot)
};

struct LogEvent {
  LineKind kind = LineKind::kUnrecognised;
  bool has_time = false;  // the line carried its own time text
  int64_t time = 0;
  // Numbers in the order the line prints them (see LineKind).
  int64_t n[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  double value = 0;   // BER percent
  bool flag = false;  // PTT ON with START; JitterBuffer=auto; jitter-buffer end with the grid's moves
  // The timeslot a call's line is about. Lines of timeslot-1 calls name it
  // ("Moto RX+ slot:1", "RX SLOT=1", "VOICE RX SLOT 1") or end in " slot:1"
  // (the kinds marked so above); the same lines without it are timeslot 2's.
  // The network's lines name whatever slot its packets carried.
  int slot = 2;
  ConfigKey config = ConfigKey::kCall;
  DropReason reason = DropReason::kOther;
  // Short texts: addresses, call sign, the position texts and mode.
  char text[3][24] = {{0}, {0}, {0}};
  char mode[16] = {0};
};

}  // namespace monitor
