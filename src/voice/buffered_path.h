#pragma once
// Network calls on the repeater's clock (JitterBuffer set). The grid is the
// repeater's clock; the master's pacing and sequence numbers are only
// evidence of where a burst belongs:
// - a burst waits in its slot and leaves on the grid; a slot whose burst did
//   not come leaves with silence;
// - a sender whose clock runs slow or fast is followed a slot at a time,
//   judged from a run of bursts;
// - a sequence jump starts a new stretch of the same call, once a second
//   burst confirms it;
// - a call that keys up while the last one drains waits for it to end;
// - a late join, or a burst of a call that just ended, needs a second burst
//   of the same call before it keys the repeater;
// - a slot overdue by more than a slot (the bridge was held up) is skipped,
//   and nothing leaves less than 30 ms after the datagram before it.
// All of a timeslot's state is in one BufferedPath and that timeslot's call
// state; each bridged timeslot has its own. Nothing is allocated.
#include <cstdint>

#include "ipsc/moto_voice_packet.h"
#include "voice/grid_drift.h"
#include "voice/jitter_lead.h"
#include "voice/v2m_shared.h"
#include "voice/voice_grid.h"

// Bursts of the same call carry the same three.
struct CallId {
  unsigned char call_type;
  uint32_t source;
  uint32_t destination;
};

// A burst decoded and filled, kept until its call goes on air or a second
// burst confirms what it started.
struct KeptBurst {
  bool used;
  uint16_t sequence;
  unsigned char position;  // in the superframe, 1..6 for A..F
  int64_t arrival_us;
  bool quiet;
  unsigned char voice[MOTO_VOICE_FIELD_LEN];
};

// How many bursts a call may bring while the call before it drains: the
// old call's tail is at most a lead (480 ms) and a terminator long, so 16
// (960 ms) also cover a master that sends in bunches.
constexpr int WAITING_BURSTS = 16;

// What the grid did with a call: the end line.
struct GridFigures {
  int bursts;       // slots that left with their own burst
  int late;         // bursts that came after their slot had left
  int filled;       // slots that left with silence
  int slipped;      // times the grid moved a slot to follow the master's clock
  int skipped;      // slots skipped because the bridge was held up
  int re_anchored;  // new stretches after a sequence jump
};

struct BufferedPath {
  V2mCall* call;  // the timeslot's call state, which the unbuffered path keeps too
  VoiceGrid grid;
  DriftWatch drift;
  JitterLead lead;

  struct OnAir {
    bool present;
    CallId id;
    bool has_stretch;  // a burst came: the call runs on the grid
    int lead_ms;       // 0 until chosen
    int stretch;       // 0 for the call's first stretch
    // A burst of position superframe_position went on air in slot
    // superframe_slot: the superframe runs on through every slot after it.
    int64_t superframe_slot;
    unsigned char superframe_position;
    bool terminated;  // its terminator waits for the tail to leave
    uint16_t end_sequence;
    uint16_t rtp_sequence;  // of the last datagram sent
    int64_t last_voice_us;  // for the time-out
    GridFigures figures;
  } on_air;

  // The next call, waiting while the one on air drains.
  struct Waiting {
    bool present;
    CallId id;
    bool late_join;            // a burst F stands in for its header
    uint16_t header_sequence;  // of its header, or of that burst F
    int64_t header_slot;
    int lead_ms;
    bool terminated;
    uint16_t end_sequence;
    int64_t last_voice_us;
    int overflowed;  // bursts it had to let go while it waited
    KeptBurst bursts[WAITING_BURSTS];
  } waiting;

  // A burst that starts something only once the next burst of its call
  // confirms it: a late join (burst F) or a new stretch after a jump.
  struct Candidate {
    bool present;
    bool jump;
    CallId id;
    KeptBurst burst;
  } candidate;

  // The call that ended last, whose stray bursts must not key the repeater.
  struct Ended {
    bool present;
    CallId id;
    uint16_t end_sequence;
    int64_t at_us;
  } ended;

  unsigned char last_voice_field[MOTO_VOICE_FIELD_LEN];  // of the last burst kept
  unsigned char last_call_tag[4];                        // of the call that ended last
  uint16_t last_rtp_sequence;                            // ... and its last datagram's RTP sequence
  int64_t last_send_us;
  int64_t last_skip_us;  // when the grid last skipped a slot
};

// Nothing on air, nothing measured (thread start); the path works on the
// call state `call` of its timeslot.
void buffered_reset(BufferedPath& p, V2mCall& call);

// A packet of the path's timeslot, its fields read and the packet
// pair-swapped in v2m_Buffer, that arrived at arrival_us on the thread's
// clock.
void buffered_take(BufferedPath& p, const HyteraFields& f, int64_t arrival_us);

// Sends every datagram due by now_us.
void buffered_send_due(BufferedPath& p, int64_t now_us);

// When the thread must wake next; false while nothing is due to happen.
bool buffered_next_deadline(const BufferedPath& p, int64_t* at_us);

// A call whose header went out but no burst followed ends when the network
// falls silent, with a terminator of our own. 1 when it ended the call.
int buffered_check_timeout(BufferedPath& p, int64_t now_us);
