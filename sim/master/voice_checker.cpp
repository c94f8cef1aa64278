#include "voice_checker.h"

#include "../common/ambe_frame.h"
#include "../common/dmr_burst_decoder.h"
#include "../common/frame_source.h"

namespace simmaster {
namespace {

void add(std::string& list, const std::string& what) {
  if (!list.empty()) list += ";";
  list += what;
}

}  // namespace

void VoiceChecker::finish(Stream& st, int64_t t_us, bool ended) {
  Call& call = st.call;
  if (!call.open) return;
  ++st.calls;
  log_.say(
      "call from the bridge on timeslot %u %s: %s %u -> %u, %d packets, %d bursts, %d frames with %d bit errors, "
      "embedded LC %d/%d superframes, %d problem(s)",
      st.slot, ended ? "ended" : "cut short", call.group ? "group" : "private", call.source, call.destination,
      call.packets, call.bursts, call.frames, call.frame_errors, call.superframes_ok, call.superframes_checked,
      call.problems);
  log_.event_at("hyt_call_rx", t_us)
      .num("slot", st.slot)
      .num("src", call.source)
      .num("dst", call.destination)
      .flag("private", !call.group)
      .num("packets", call.packets)
      .num("bursts", call.bursts)
      .num("frames", call.frames)
      .num("frame_errors", call.frame_errors)
      .num("lc_checked", call.superframes_checked)
      .num("lc_ok", call.superframes_ok)
      .flag("ended", ended)
      .num("problems", call.problems)
      .num("start_us", call.start_us);
  call = Call{};
}

void VoiceChecker::open_call(Call& call, const simhyt::Fields& f, int64_t t_us) {
  call.open = true;
  call.source = f.source;
  call.destination = f.destination;
  call.group = f.group;
  call.start_us = t_us;
}

// The sync packet opens a call: the talker where the burst would be, nothing else there.
void VoiceChecker::take_sync(Stream& st, const simhyt::Packet& p, const simhyt::Fields& f, int64_t t_us, Seen& s) {
  using simhyt::offset::kSyncTalker;
  s.kind = "sync";
  s.opened = true;
  finish(st, t_us, false);
  open_call(st.call, f, t_us);
  if (f.kind != simhyt::kKindSync) add(s.problems, "kind");
  if (simhyt::sync_talker(p) != f.source) add(s.problems, "sync talker");
  for (size_t i = simhyt::offset::kBurst; i < simhyt::offset::kVoiceMark; ++i)
    if (i != kSyncTalker[0] && i != kSyncTalker[1] && i != kSyncTalker[2] && p[i] != 0) {
      add(s.problems, "sync burst not empty");
      break;
    }
}

void VoiceChecker::take_header(Call& call, const simhyt::Packet& p, const simhyt::Fields& f, Seen& s) {
  s.kind = "header";
  if (f.kind != simhyt::kKindVoice) add(s.problems, "kind");
  // The talker's identifier is written over part of slot type and sync;
  // the link control itself must still decode.
  const dmrtest::LcBurst lc = dmrtest::decode_lc_burst(f.burst.data());
  if (!lc.bptc.clean || lc.bptc.failing_rows || lc.bptc.failing_columns || !lc.rs_ok) add(s.problems, "header LC");
  if (simhyt::sync_talker(p) != f.source) add(s.problems, "header talker");
  call.expected_position = 0;
}

void VoiceChecker::take_terminator(const simhyt::Fields& f, Seen& s) {
  s.kind = "end";
  if (f.kind != simhyt::kKindEnd) add(s.problems, "kind");
  const dmrtest::LcBurst lc = dmrtest::decode_lc_burst(f.burst.data());
  if (!lc.data_sync || lc.slot.distance != 0 || lc.slot.colour_code != 1 ||
      lc.slot.data_type != dmrtest::kDataTypeTerminatorLc || !lc.bptc.clean || lc.bptc.failing_rows ||
      lc.bptc.failing_columns || !lc.rs_ok)
    add(s.problems, "terminator burst");
  s.ended = true;
}

void VoiceChecker::take_voice(Call& call, const simhyt::Fields& f, Seen& s) {
  s.kind = "voice";
  if (f.kind != simhyt::kKindVoice) add(s.problems, "kind");
  if (call.open && s.position != call.expected_position) add(s.problems, "burst order");
  call.expected_position = (s.position + 1) % 6;
  for (const auto& air : simhyt::burst_frames(f.burst)) {
    const simdmr::FrameDecode d = simdmr::decode_frame(air);
    s.errors += d.a_errors + d.b_errors + (d.w0_wrong ? 1 : 0);
    if (d.uncorrectable) add(s.problems, "uncorrectable frame");
    s.frames += simdmr::voice_hex(d.voice);
  }
  if (s.errors) add(s.problems, "frame bit errors");
  check_centre(call, f, s.position, s.problems);
  ++call.bursts;
  call.frames += 3;
  call.frame_errors += s.errors;
}

void VoiceChecker::check_centre(Call& call, const simhyt::Fields& f, int position, std::string& problems) {
  const uint64_t centre = simhyt::burst_centre(f.burst);
  if (position == 0) {
    if (centre != simhyt::kVoiceSync) add(problems, "voice sync");
    return;
  }
  const simdmr::Emb emb = simdmr::emb_decode(simhyt::centre_emb(centre));
  if (!emb.valid || emb.colour_code != 1 || emb.pi != 0 || emb.lcss != simdmr::kBurstLcss[position])
    add(problems, "EMB");
  const uint32_t signalling = simhyt::centre_signalling(centre);
  if (position == 5) {
    if (signalling != 0) add(problems, "null signalling in F");
    return;
  }
  const int fragment = position - 1;
  for (unsigned i = 0; i < simdmr::kFragmentBits; ++i)
    call.block[simdmr::kFragmentBits * static_cast<unsigned>(fragment) + i] =
        static_cast<uint8_t>((signalling >> (simdmr::kFragmentBits - 1 - i)) & 1);
  call.fragments[fragment] = true;
  if (position != 4) return;
  const bool complete = call.fragments[0] && call.fragments[1] && call.fragments[2] && call.fragments[3];
  if (complete) {
    ++call.superframes_checked;
    const simdmr::EmbeddedDecode lc = simdmr::embedded_lc_decode(call.block);
    const bool ok =
        lc.rows_ok && lc.columns_ok && lc.checksum_ok && lc.lc == simdmr::group_call_lc(f.destination, f.source);
    if (ok)
      ++call.superframes_ok;
    else
      add(problems, "embedded LC");
  }
  for (bool& b : call.fragments) b = false;
}

void VoiceChecker::record(Stream& st, const simhyt::Fields& f, int64_t t_us, const Seen& s) {
  ++st.call.packets;
  if (!s.problems.empty()) {
    ++st.call.problems;
    ++problems_;
    log_.say("voice packet seq %u on timeslot %u (%s): %s", f.sequence, st.slot, s.kind.c_str(), s.problems.c_str());
  }
  auto e = log_.event_at("hyt_rx", t_us);
  e.str("kind", s.kind).num("slot", f.slot).num("seq", f.sequence).num("src", f.source).num("dst", f.destination);
  e.flag("private", !f.group);
  if (s.position >= 0) e.str("pos", std::string(1, "ABCDEF"[s.position]));
  if (!s.frames.empty()) e.str("frames", s.frames).num("bit_errors", s.errors);
  e.str("problems", s.problems);
}

VoiceChecker::Took VoiceChecker::take(const simhyt::Packet& p, int64_t t_us) {
  const simhyt::Fields f = simhyt::parse(p);
  Seen s;
  // A packet whose slot code is neither timeslot's is checked as timeslot 2's.
  Stream& st = slots_[f.slot == 1 ? 1 : 2];
  Call& call = st.call;
  if (!f.slot_code_ok) add(s.problems, "slot code");
  if (!simhyt::fixed_bytes_ok(p, f.frame_type == simhyt::kFrameSync)) add(s.problems, "fixed bytes");
  if (f.frame_type == simhyt::kFrameSync) {
    take_sync(st, p, f, t_us, s);
  } else if (f.frame_type == simhyt::kFrameHeader) {
    take_header(call, p, f, s);
  } else if (f.frame_type == simhyt::kFrameTerminator) {
    take_terminator(f, s);
  } else if ((s.position = simhyt::voice_position(f.frame_type)) >= 0) {
    take_voice(call, f, s);
  } else {
    s.kind = "unknown";
    add(s.problems, "frame type");
  }
  if (!f.frame_type_pair_equal) add(s.problems, "frame type pair");
  if (call.open && s.kind != "sync" &&
      (f.source != call.source || f.destination != call.destination || f.group != call.group))
    add(s.problems, "call fields changed");
  if (!call.open && s.kind != "sync") add(s.problems, "no sync packet");
  record(st, f, t_us, s);
  if (s.ended) {
    if (!call.open) open_call(call, f, t_us);
    finish(st, t_us, true);
  }
  return s.ended ? Took::kEnded : s.opened ? Took::kOpened : Took::kNothing;
}

}  // namespace simmaster
