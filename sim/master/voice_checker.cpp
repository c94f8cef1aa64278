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

void VoiceChecker::finish(int64_t t_us, bool ended) {
  if (!call_.open) return;
  ++calls_;
  log_.say(
      "call from the bridge %s: %s %u -> %u, %d packets, %d bursts, %d frames with %d bit errors, "
      "embedded LC %d/%d superframes, %d problem(s)",
      ended ? "ended" : "cut short", call_.group ? "group" : "private", call_.source, call_.destination, call_.packets,
      call_.bursts, call_.frames, call_.frame_errors, call_.superframes_ok, call_.superframes_checked, call_.problems);
  log_.event_at("hyt_call_rx", t_us)
      .num("src", call_.source)
      .num("dst", call_.destination)
      .flag("private", !call_.group)
      .num("packets", call_.packets)
      .num("bursts", call_.bursts)
      .num("frames", call_.frames)
      .num("frame_errors", call_.frame_errors)
      .num("lc_checked", call_.superframes_checked)
      .num("lc_ok", call_.superframes_ok)
      .flag("ended", ended)
      .num("problems", call_.problems)
      .num("start_us", call_.start_us);
  call_ = Call{};
}

void VoiceChecker::open_call(const simhyt::Fields& f, int64_t t_us) {
  call_.open = true;
  call_.source = f.source;
  call_.destination = f.destination;
  call_.group = f.group;
  call_.start_us = t_us;
}

// The sync packet opens a call: the talker where the burst would be, nothing else there.
void VoiceChecker::take_sync(const simhyt::Packet& p, const simhyt::Fields& f, int64_t t_us, Seen& s) {
  using simhyt::offset::kSyncTalker;
  s.kind = "sync";
  finish(t_us, false);
  open_call(f, t_us);
  if (f.kind != simhyt::kKindSync) add(s.problems, "kind");
  if (simhyt::sync_talker(p) != f.source) add(s.problems, "sync talker");
  for (size_t i = simhyt::offset::kBurst; i < simhyt::offset::kVoiceMark; ++i)
    if (i != kSyncTalker[0] && i != kSyncTalker[1] && i != kSyncTalker[2] && p[i] != 0) {
      add(s.problems, "sync burst not empty");
      break;
    }
}

void VoiceChecker::take_header(const simhyt::Packet& p, const simhyt::Fields& f, Seen& s) {
  s.kind = "header";
  if (f.kind != simhyt::kKindVoice) add(s.problems, "kind");
  // The talker's identifier is written over part of slot type and sync;
  // the link control itself must still decode.
  const dmrtest::LcBurst lc = dmrtest::decode_lc_burst(f.burst.data());
  if (!lc.bptc.clean || lc.bptc.failing_rows || lc.bptc.failing_columns || !lc.rs_ok) add(s.problems, "header LC");
  if (simhyt::sync_talker(p) != f.source) add(s.problems, "header talker");
  call_.expected_position = 0;
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

void VoiceChecker::take_voice(const simhyt::Fields& f, Seen& s) {
  s.kind = "voice";
  if (f.kind != simhyt::kKindVoice) add(s.problems, "kind");
  if (call_.open && s.position != call_.expected_position) add(s.problems, "burst order");
  call_.expected_position = (s.position + 1) % 6;
  for (const auto& air : simhyt::burst_frames(f.burst)) {
    const simdmr::FrameDecode d = simdmr::decode_frame(air);
    s.errors += d.a_errors + d.b_errors + (d.w0_wrong ? 1 : 0);
    if (d.uncorrectable) add(s.problems, "uncorrectable frame");
    s.frames += simdmr::voice_hex(d.voice);
  }
  if (s.errors) add(s.problems, "frame bit errors");
  check_centre(f, s.position, s.problems);
  ++call_.bursts;
  call_.frames += 3;
  call_.frame_errors += s.errors;
}

void VoiceChecker::check_centre(const simhyt::Fields& f, int position, std::string& problems) {
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
    call_.block[simdmr::kFragmentBits * static_cast<unsigned>(fragment) + i] =
        static_cast<uint8_t>((signalling >> (simdmr::kFragmentBits - 1 - i)) & 1);
  call_.fragments[fragment] = true;
  if (position != 4) return;
  const bool complete = call_.fragments[0] && call_.fragments[1] && call_.fragments[2] && call_.fragments[3];
  if (complete) {
    ++call_.superframes_checked;
    const simdmr::EmbeddedDecode lc = simdmr::embedded_lc_decode(call_.block);
    const bool ok =
        lc.rows_ok && lc.columns_ok && lc.checksum_ok && lc.lc == simdmr::group_call_lc(f.destination, f.source);
    if (ok)
      ++call_.superframes_ok;
    else
      add(problems, "embedded LC");
  }
  for (bool& b : call_.fragments) b = false;
}

void VoiceChecker::record(const simhyt::Fields& f, int64_t t_us, const Seen& s) {
  ++call_.packets;
  if (!s.problems.empty()) {
    ++call_.problems;
    ++problems_;
    log_.say("voice packet seq %u (%s): %s", f.sequence, s.kind.c_str(), s.problems.c_str());
  }
  auto e = log_.event_at("hyt_rx", t_us);
  e.str("kind", s.kind).num("seq", f.sequence).num("src", f.source).num("dst", f.destination).flag("private", !f.group);
  if (s.position >= 0) e.str("pos", std::string(1, "ABCDEF"[s.position]));
  if (!s.frames.empty()) e.str("frames", s.frames).num("bit_errors", s.errors);
  e.str("problems", s.problems);
}

bool VoiceChecker::take(const simhyt::Packet& p, int64_t t_us) {
  const simhyt::Fields f = simhyt::parse(p);
  Seen s;
  if (f.slot != 2) add(s.problems, "slot");
  if (!simhyt::fixed_bytes_ok(p, f.frame_type == simhyt::kFrameSync)) add(s.problems, "fixed bytes");
  if (f.frame_type == simhyt::kFrameSync) {
    take_sync(p, f, t_us, s);
  } else if (f.frame_type == simhyt::kFrameHeader) {
    take_header(p, f, s);
  } else if (f.frame_type == simhyt::kFrameTerminator) {
    take_terminator(f, s);
  } else if ((s.position = simhyt::voice_position(f.frame_type)) >= 0) {
    take_voice(f, s);
  } else {
    s.kind = "unknown";
    add(s.problems, "frame type");
  }
  if (!f.frame_type_pair_equal) add(s.problems, "frame type pair");
  if (call_.open && s.kind != "sync" &&
      (f.source != call_.source || f.destination != call_.destination || f.group != call_.group))
    add(s.problems, "call fields changed");
  if (!call_.open && s.kind != "sync") add(s.problems, "no sync packet");
  record(f, t_us, s);
  if (s.ended) {
    if (!call_.open) open_call(f, t_us);
    finish(t_us, true);
  }
  return s.ended;
}

}  // namespace simmaster
