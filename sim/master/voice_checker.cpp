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

bool fixed_bytes_ok(const simhyt::Packet& p, bool sync) {
  const bool e_lead = p[18] == 0xBB;
  const uint8_t lead = e_lead ? 0xEE : 0x00, lead2 = e_lead ? 0x11 : 0x00;
  return p[0] == lead && p[1] == lead && p[2] == lead2 && p[3] == lead2 && p[6] == 0 && p[7] == 0 && p[9] == 0 &&
         p[10] == 0x05 && p[11] == 0x01 && p[12] == 0x02 && p[13] == 0 && p[14] == 0 && p[15] == 0 &&
         p[16] == 0x22 && p[17] == 0x22 && p[18] == p[19] && p[20] == 0x11 && p[21] == 0x11 &&
         p[22] == (sync ? 0x11 : 0) && p[23] == (sync ? 0x11 : 0) && p[24] == (sync ? 0 : 0x10) && p[25] == 0 &&
         p[58] == 0 && p[60] == (sync ? 0 : 0x02) && p[61] == 0 && p[63] == 0 && p[67] == 0 && p[71] == 0;
}

constexpr uint8_t kExpectedLcss[6] = {0, 1, 3, 3, 2, 0};

}  // namespace

void VoiceChecker::finish(int64_t t_us, bool ended) {
  if (!call_.open) return;
  ++calls_;
  log_.say("call from the bridge %s: %s %u -> %u, %d packets, %d bursts, %d frames with %d bit errors, "
           "embedded LC %d/%d superframes, %d problem(s)",
           ended ? "ended" : "cut short", call_.group ? "group" : "private", call_.source, call_.destination,
           call_.packets, call_.bursts, call_.frames, call_.frame_errors, call_.superframes_ok,
           call_.superframes_checked, call_.problems);
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

void VoiceChecker::check_voice(const simhyt::Fields& f, int position, std::string& problems, std::string& frames,
                               int& errors) {
  for (const auto& air : simhyt::burst_frames(f.burst)) {
    const simdmr::FrameDecode d = simdmr::decode_frame(air);
    errors += d.a_errors + d.b_errors + (d.w0_wrong ? 1 : 0);
    if (d.uncorrectable) add(problems, "uncorrectable frame");
    frames += simdmr::voice_hex(d.voice);
  }
  if (errors) add(problems, "frame bit errors");
  const uint64_t centre = simhyt::burst_centre(f.burst);
  if (position == 0) {
    if (centre != simhyt::kVoiceSync) add(problems, "voice sync");
    return;
  }
  const simdmr::Emb emb = simdmr::emb_decode(simhyt::centre_emb(centre));
  if (!emb.valid || emb.colour_code != 1 || emb.pi != 0 || emb.lcss != kExpectedLcss[position]) add(problems, "EMB");
  const uint32_t signalling = simhyt::centre_signalling(centre);
  if (position == 5) {
    if (signalling != 0) add(problems, "null signalling in F");
    return;
  }
  const int fragment = position - 1;
  for (int i = 0; i < 32; ++i)
    call_.block[static_cast<size_t>(32 * fragment + i)] = static_cast<uint8_t>((signalling >> (31 - i)) & 1);
  call_.fragments[fragment] = true;
  if (position == 4) {
    const bool complete = call_.fragments[0] && call_.fragments[1] && call_.fragments[2] && call_.fragments[3];
    if (complete) {
      ++call_.superframes_checked;
      const simdmr::EmbeddedDecode lc = simdmr::embedded_lc_decode(call_.block);
      const bool ok = lc.rows_ok && lc.columns_ok && lc.checksum_ok && lc.lc == simdmr::group_call_lc(f.destination, f.source);
      if (ok) ++call_.superframes_ok;
      else add(problems, "embedded LC");
    }
    for (bool& b : call_.fragments) b = false;
  }
}

bool VoiceChecker::take(const simhyt::Packet& p, int64_t t_us) {
  const simhyt::Fields f = simhyt::parse(p);
  std::string problems, frames, kind;
  int position = -1, errors = 0;
  bool ended = false;
  if (f.slot != 2) add(problems, "slot");
  if (!fixed_bytes_ok(p, f.frame_type == simhyt::kFrameSync)) add(problems, "fixed bytes");
  if (f.frame_type == simhyt::kFrameSync) {
    kind = "sync";
    finish(t_us, false);
    call_.open = true;
    call_.source = f.source;
    call_.destination = f.destination;
    call_.group = f.group;
    call_.start_us = t_us;
    if (f.kind != simhyt::kKindSync) add(problems, "kind");
    const uint32_t talker = static_cast<uint32_t>(p[38]) << 16 | p[40] << 8 | p[42];
    if (talker != f.source) add(problems, "sync talker");
    for (unsigned i = 26; i < 60; ++i)
      if (i != 38 && i != 40 && i != 42 && p[i] != 0) {
        add(problems, "sync burst not empty");
        break;
      }
  } else if (f.frame_type == simhyt::kFrameHeader) {
    kind = "header";
    if (f.kind != simhyt::kKindVoice) add(problems, "kind");
    // The talker's identifier is written over part of slot type and sync;
    // the link control itself must still decode.
    const dmrtest::LcBurst lc = dmrtest::decode_lc_burst(f.burst.data());
    if (!lc.bptc.clean || lc.bptc.failing_rows || lc.bptc.failing_columns || !lc.rs_ok) add(problems, "header LC");
    const uint32_t talker = static_cast<uint32_t>(p[38]) << 16 | p[40] << 8 | p[42];
    if (talker != f.source) add(problems, "header talker");
    call_.expected_position = 0;
  } else if (f.frame_type == simhyt::kFrameTerminator) {
    kind = "end";
    if (f.kind != simhyt::kKindEnd) add(problems, "kind");
    const dmrtest::LcBurst lc = dmrtest::decode_lc_burst(f.burst.data());
    if (!lc.data_sync || lc.slot.distance != 0 || lc.slot.colour_code != 1 ||
        lc.slot.data_type != dmrtest::kDataTypeTerminatorLc || !lc.bptc.clean || lc.bptc.failing_rows ||
        lc.bptc.failing_columns || !lc.rs_ok)
      add(problems, "terminator burst");
    ended = true;
  } else if ((position = simhyt::voice_position(f.frame_type)) >= 0) {
    kind = "voice";
    if (f.kind != simhyt::kKindVoice) add(problems, "kind");
    if (call_.open && position != call_.expected_position) add(problems, "burst order");
    call_.expected_position = (position + 1) % 6;
    check_voice(f, position, problems, frames, errors);
    ++call_.bursts;
    call_.frames += 3;
    call_.frame_errors += errors;
  } else {
    kind = "unknown";
    add(problems, "frame type");
  }
  if (!f.frame_type_pair_equal) add(problems, "frame type pair");
  if (call_.open && kind != "sync" && (f.source != call_.source || f.destination != call_.destination || f.group != call_.group))
    add(problems, "call fields changed");
  if (!call_.open && kind != "sync") add(problems, "no sync packet");
  ++call_.packets;
  if (!problems.empty()) {
    ++call_.problems;
    ++problems_;
    log_.say("voice packet seq %u (%s): %s", f.sequence, kind.c_str(), problems.c_str());
  }
  {
    auto e = log_.event_at("hyt_rx", t_us);
    e.str("kind", kind).num("seq", f.sequence).num("src", f.source).num("dst", f.destination).flag("private", !f.group);
    if (position >= 0) e.str("pos", std::string(1, "ABCDEF"[position]));
    if (!frames.empty()) e.str("frames", frames).num("bit_errors", errors);
    e.str("problems", problems);
  }
  if (ended) {
    if (!call_.open) {
      call_.open = true;
      call_.source = f.source;
      call_.destination = f.destination;
      call_.group = f.group;
      call_.start_us = t_us;
    }
    finish(t_us, true);
  }
  return ended;
}

}  // namespace simmaster
