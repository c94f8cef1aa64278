// moto_bridge_sim_master: a simulated DMR network master speaking the
// Hytera repeater protocol toward the bridge. It echoes the bridge's "A"
// logins and keep-alives, checks and records the voice packets, position
// records and RDAC announcements it receives, can answer the announcements,
// and plays voice calls as 72-byte packets on either timeslot, or on both at
// once, as its script tells it.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/ambe_frame.h"
#include "../common/dmr_burst_decoder.h"
#include "../common/embedded_signalling.h"
#include "../common/event_log.h"
#include "../common/frame_source.h"
#include "../common/hytera_packet.h"
#include "../common/link_impairment.h"
#include "../common/peer_runtime.h"
#include "../common/script_timeslot.h"
#include "../common/sim_clock.h"
#include "../common/xorshift.h"
#include "rdac_reader.h"
#include "voice_checker.h"

namespace {

struct Options {
  std::string bind = "192.0.2.2";
  std::string json;
  std::string script;
  std::string ambe;
  uint32_t seed = 2;
  std::vector<size_t> rdac_answers;  // length of the answer to announcement n (0: none)
  bool echo = true;
  double duration = 0;
  simlink::Link link;  // between the master and the bridge, for the voice of the calls it plays
};

void usage() {
  std::puts(
      "usage: moto_bridge_sim_master [--bind IP] [--json FILE] [--script FILE] [--ambe FILE]\n"
      "         [--seed N] [--rdac-answers LEN,LEN,...] [--no-echo] [--duration S] [--link WORDS]\n"
      "  --rdac-answers: answer announcement n with a datagram of the n-th length (0: none)\n"
      "  --link: impair the voice of the calls played (words as for the link command)\n"
      "Script commands: sleep S | wait EVENT [S] [count=N] | quit\n"
      "  call group|private DST SRC [bursts=N] [headers=N] [errors=N] [uncorrectable=N]\n"
      "       [bunch=N] [gap_ms=60] [end=1] [jump=N:D] [restart=N[:S]] [after_end_ms=MS]\n"
      "       [stray_ms=MS] [slot=2|1] [hold=0] [link words: this call only]\n"
      "       slot: the timeslot (each numbers its own packets); hold=0: the script goes\n"
      "         on at once, so a call on the other slot plays alongside this one\n"
      "       gap_ms: the sender's pacing, fractions allowed (60.4: a slow clock), held over\n"
      "         any length of call; jump=N:D: from burst N on the sequence numbers are D\n"
      "         further on (D may be negative); restart=N:S: from burst N they start again\n"
      "         at S (default 0); after_end_ms: the call's header N ms after the end packet\n"
      "         of the call before; stray_ms: a copy of the call's last burst MS after its\n"
      "         end packet\n"
      "  link WORDS | link off      impair the voice of the calls that follow:\n"
      "       delay=uniform:MIN:MAX|normal:MEAN:SD|exp:MEAN|fixed:MS  late=P%:MS\n"
      "       loss=P%  loss_run=N  reorder=P%   (milliseconds; seeded by --seed)\n"
      "       Bursts get all of it; the end packet is delayed and reordered but\n"
      "       never lost; sync and header packets are not impaired.\n"
      "  rdac_answer LEN             a datagram of LEN bytes to the bridge's RDAC port\n"
      "  echo on|off                 answer the bridge's \"A\" datagrams or not\n"
      "  fuzz SECONDS [count=N]      random datagrams to the bridge's ports 62005..62007\n"
      "Events to wait for: login, a, rdac, hyt_start (a call from the bridge began), hyt_call (one\n"
      "  ended), position");
}

bool parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--bind")
      o.bind = value();
    else if (a == "--json")
      o.json = value();
    else if (a == "--script")
      o.script = value();
    else if (a == "--ambe")
      o.ambe = value();
    else if (a == "--seed")
      o.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 0));
    else if (a == "--rdac-answers") {
      for (const char* p = value(); *p;) {
        char* end = nullptr;
        const unsigned long length = std::strtoul(p, &end, 10);
        if (end == p) return false;
        o.rdac_answers.push_back(length);
        p = *end == ',' ? end + 1 : end;
      }
    } else if (a == "--no-echo")
      o.echo = false;
    else if (a == "--duration")
      o.duration = std::atof(value());
    else if (a == "--link") {
      std::string error;
      if (!simlink::parse(value(), o.link, &error)) {
        std::fprintf(stderr, "--link: %s\n", error.c_str());
        return false;
      }
    } else
      return false;
  }
  return true;
}

class Master {
 public:
  Master(const Options& o, simlog::EventLog& log, simpeer::Runtime& rt)
      : o_(o), log_(log), rt_(rt), checker_(log), frames_(o.seed), echo_(o.echo), link_(o.link) {}

  bool start() {
    if (!o_.ambe.empty() && !frames_.load(o_.ambe)) {
      std::fprintf(stderr, "cannot read AMBE frames from %s\n", o_.ambe.c_str());
      return false;
    }
    if (!voice_.open(o_.bind, 62006) || !rdac_.open(o_.bind, 62007)) {
      std::fprintf(stderr, "%s%s\n", voice_.error().c_str(), rdac_.error().c_str());
      return false;
    }
    rt_.watch(voice_,
              [this](const std::vector<uint8_t>& d, const sockaddr_in& f, int64_t t) { on_voice_port(d, f, t); });
    rt_.watch(rdac_, [this](const std::vector<uint8_t>& d, const sockaddr_in& f, int64_t t) { on_rdac_port(d, f, t); });
    log_.say("network master listening on %s:62006 and :62007", o_.bind.c_str());
    log_.event("start");
    return true;
  }

  bool command(const simscript::Command& c) {
    if (c.verb == "call") return play_call(c);
    if (c.verb == "rdac_answer") return rdac_answer(static_cast<size_t>(c.number(0, 24)));
    if (c.verb == "echo") {
      echo_ = c.word(0) != "off";
      log_.say("echo of \"A\" %s", echo_ ? "on" : "off");
      return true;
    }
    if (c.verb == "fuzz") return fuzz(c);
    if (c.verb == "link") return set_link(c);
    return false;
  }

  void summary() {
    const std::string by_slot = simcalls::timeslot1_note(checker_.calls(1));
    log_.say(
        "summary: %d \"A\" received, %d RDAC announcement(s), %d call(s) received%s, %d voice problem(s), "
        "%d position record(s), %d other datagram(s)",
        a_received_, announcements_, checker_.calls(), by_slot.c_str(), checker_.problems(), positions_, others_);
    log_.event("summary")
        .num("a_received", a_received_)
        .num("rdac_announcements", announcements_)
        .num("calls_received", checker_.calls())
        .num("calls_slot1", checker_.calls(1))
        .num("calls_slot2", checker_.calls(2))
        .num("voice_problems", checker_.problems())
        .num("positions", positions_)
        .num("others", others_);
  }

 private:
  void on_voice_port(const std::vector<uint8_t>& d, const sockaddr_in& from, int64_t t) {
    if (d.size() == 1 && d[0] == 'A') {
      ++a_received_;
      const bool first = !have_bridge_;
      bridge_ = from;
      have_bridge_ = true;
      log_.event_at("a_rx", t).flag("echoed", echo_).num("from_port", ntohs(from.sin_port)).flag("first", first);
      if (first) log_.say("login \"A\" from %s%s", simnet::text_of(from).c_str(), echo_ ? ", echoed" : "");
      if (echo_) voice_.send_to(from, d);
      rt_.saw("a");
      if (first) rt_.saw("login");
      return;
    }
    if (d.size() == simhyt::kPacketSize) {
      simhyt::Packet p{};
      std::memcpy(p.data(), d.data(), p.size());
      switch (checker_.take(p, t)) {
        case simmaster::VoiceChecker::Took::kOpened:
          rt_.saw("hyt_start");
          break;
        case simmaster::VoiceChecker::Took::kEnded:
          rt_.saw("hyt_call");
          break;
        case simmaster::VoiceChecker::Took::kNothing:
          break;
      }
      return;
    }
    if (d.size() == simhyt::location::kLength) {
      position(d, t);
      return;
    }
    ++others_;
    log_.say("unexpected %zu-byte datagram on port 62006 from %s", d.size(), simnet::text_of(from).c_str());
    log_.event_at("other_rx", t).num("len", static_cast<int64_t>(d.size())).num("port", 62006);
  }

  void position(const std::vector<uint8_t>& d, int64_t t) {
    ++positions_;
    using namespace simhyt::location;
    const auto field = [&](size_t at, size_t length) {
      return std::string(d.begin() + static_cast<std::ptrdiff_t>(at),
                         d.begin() + static_cast<std::ptrdiff_t>(at + length));
    };
    const std::string lat = field(kLatitude, kCoordinateLength), lon = field(kLongitude, kCoordinateLength);
    const std::string mode(1, static_cast<char>(d[kMode]));
    std::string peer;
    for (size_t i = 0; i < kPeerTextLength && d[kPeerText + i]; ++i) peer += static_cast<char>(d[kPeerText + i]);
    const uint32_t src = static_cast<uint32_t>(d[kSource]) << 16 | d[kSource + 1] << 8 | d[kSource + 2];
    const bool layout_ok = d[kMark2] == '2' && d[kMarkQ] == 'Q';
    log_.say("position record: peer text \"%s\", source %u, lat %s lon %s mode %s%s", peer.c_str(), src, lat.c_str(),
             lon.c_str(), mode.c_str(), layout_ok ? "" : " (layout wrong)");
    log_.event_at("position_rx", t)
        .str("lat", lat)
        .str("lon", lon)
        .str("mode", mode)
        .num("src", src)
        .str("peer_text", peer)
        .flag("layout_ok", layout_ok);
    rt_.saw("position");
  }

  void on_rdac_port(const std::vector<uint8_t>& d, const sockaddr_in& from, int64_t t) {
    const int from_port = ntohs(from.sin_port);
    if (d.size() == simmaster::rdac::kLongLength) {
      long_ = simmaster::read_rdac_long(d);
      have_long_ = true;
      log_.event_at("rdac_rx", t).num("len", 225).num("from_port", from_port).flag("layout_ok", long_.layout_ok);
      return;
    }
    if (d.size() == simmaster::rdac::kShortLength && have_long_) {
      have_long_ = false;
      const simmaster::RdacShort s = simmaster::read_rdac_short(d);
      ++announcements_;
      log_.say("RDAC announcement %d: %s, repeater %u, tx %u Hz rx %u Hz, firmware \"%s\", model \"%s\"",
               announcements_, s.call_sign.c_str(), s.repeater_id, s.tx_hz, s.rx_hz, long_.firmware.c_str(),
               long_.model.c_str());
      log_.event_at("rdac_announcement", t)
          .num("n", announcements_)
          .num("from_port", from_port)
          .flag("layout_ok", long_.layout_ok && s.layout_ok)
          .str("call", s.call_sign)
          .str("call_long", long_.call_sign)
          .num("repeater_id", s.repeater_id)
          .num("bridge_id_low", s.bridge_id_low)
          .num("tx_hz", s.tx_hz)
          .num("rx_hz", s.rx_hz)
          .str("firmware", long_.firmware)
          .str("model", long_.model);
      rt_.saw("rdac");
      const size_t n = static_cast<size_t>(announcements_);
      if (n <= o_.rdac_answers.size() && o_.rdac_answers[n - 1] > 0) rdac_answer(o_.rdac_answers[n - 1]);
      return;
    }
    ++others_;
    log_.say("unexpected %zu-byte datagram on port 62007", d.size());
    log_.event_at("other_rx", t).num("len", static_cast<int64_t>(d.size())).num("port", 62007);
  }

  bool need_bridge(const simscript::Command& c) {
    if (have_bridge_) return true;
    log_.say("script line %d: \"%s\" needs the bridge logged in; skipped", c.line, c.verb.c_str());
    log_.event("script_error").num("line", c.line).str("command", c.text()).str("reason", "no login yet");
    return false;
  }

  bool rdac_answer(size_t length) {
    if (!have_bridge_) return true;
    std::vector<uint8_t> d(length, 0);
    if (length > 0) d[0] = 0x7e;
    rdac_.send_to(simnet::address_of(inet_ntoa(bridge_.sin_addr), 62007), d);
    log_.say("answered the RDAC announcements with %zu bytes", length);
    log_.event("rdac_answer").num("len", static_cast<int64_t>(length)).num("after", announcements_);
    return true;
  }

  // Sends p at `due`, or later or never as the link decides, and records
  // it with its nominal time when it leaves (or would have); `hold`: the
  // script waits until it left.
  void send_at(int64_t due, const simhyt::Packet& p, std::string kind, std::string frames, std::string injected,
               int call, bool hold, simlink::Fate fate = {}) {
    rt_.at(
        due + fate.delay_us,
        [this, p, kind = std::move(kind), frames = std::move(frames), injected = std::move(injected), call, due, fate] {
          const int64_t t = simclock::now_us();
          if (!fate.lost) voice_.send_to(bridge_, std::vector<uint8_t>(p.begin(), p.end()));
          const simhyt::Fields f = simhyt::parse(p);
          auto e = log_.event_at(fate.lost ? "hyt_voice_lost" : "hyt_voice_tx", t);
          e.str("kind", kind)
              .num("slot", f.slot)
              .num("seq", f.sequence)
              .num("call", call)
              .num("src", f.source)
              .num("dst", f.destination)
              .flag("private", !f.group)
              .num("nominal_us", due)
              .num("link_delay_us", fate.delay_us);
          if (!frames.empty()) e.str("frames", frames);
          if (!injected.empty()) e.str("injected", injected);
        },
        hold);
  }

  bool set_link(const simscript::Command& c) {
    std::string words, error;
    for (const auto& w : c.words) words += w + " ";
    for (const auto& [k, v] : c.options) words += k + "=" + v + " ";
    simlink::Link link;
    if (!simlink::parse(words, link, &error)) {
      log_.say("script line %d: %s; link unchanged", c.line, error.c_str());
      log_.event("script_error").num("line", c.line).str("command", c.text()).str("reason", error);
      return true;
    }
    link_ = link;
    log_.say("link to the bridge now: %s", simlink::describe(link_).c_str());
    log_.event("link").str("link", simlink::describe(link_));
    return true;
  }

  // The link for one call: its own link words, if it has any, else the
  // master's link.
  bool link_of(const simscript::Command& c, simlink::Link& link) {
    std::string words, error;
    for (const char* key : {"delay", "late", "loss", "loss_run", "reorder"}) {
      auto it = c.options.find(key);
      if (it != c.options.end()) words += std::string(key) + "=" + it->second + " ";
    }
    link = link_;
    if (words.empty()) return true;
    if (simlink::parse(words, link, &error)) return true;
    log_.say("script line %d: %s; call skipped", c.line, error.c_str());
    log_.event("script_error").num("line", c.line).str("command", c.text()).str("reason", error);
    return false;
  }

  // A call as the script asked for it.
  struct CallPlan {
    simhyt::Header h;
    bool private_call = false;
    int bursts = 18, headers = 1, errors = 0, uncorrectable = 0, bunch = 1;
    int64_t gap = 60000;
    bool end = true;
    bool hold = true;  // the script waits for the call's last packet
    int call = 0;
    simdmr::LinkControl lc{};
    // Stream shapes of real masters.
    int renumber_at = -1;  // burst from which the numbers change
    bool restart = false;  // ... start again at renumber_to, else move on by it
    int64_t renumber_to = 0;
    int64_t after_end_us = -1;  // header this long after the last call's end packet
    int64_t stray_us = -1;      // a copy of the last burst this long after the end packet
  };

  bool play_call(const simscript::Command& c) {
    if (!need_bridge(c)) return true;
    CallPlan plan;
    if (!simscript::timeslot_or_error(c, plan.h.slot, log_, "call skipped")) return true;
    Stream& st = streams_[plan.h.slot];
    plan.hold = simscript::holds_script(c);
    plan.private_call = c.word(0) == "private";
    plan.h.group = !plan.private_call;
    plan.h.destination = static_cast<uint32_t>(c.number(1, 9));
    plan.h.source = static_cast<uint32_t>(c.number(2, 2620002));
    plan.bursts = static_cast<int>(c.option("bursts", 18));
    plan.headers = static_cast<int>(c.option("headers", 1));
    plan.errors = static_cast<int>(c.option("errors", 0));
    plan.uncorrectable = static_cast<int>(c.option("uncorrectable", 0));
    plan.bunch = std::max(1, static_cast<int>(c.option("bunch", 1)));
    plan.gap = static_cast<int64_t>(std::max(1.0, c.decimal_option("gap_ms", 60)) * 1000 + 0.5);
    plan.end = c.option("end", 1) != 0;
    if (c.pair_option("restart", plan.renumber_at, plan.renumber_to, 0))
      plan.restart = true;
    else
      c.pair_option("jump", plan.renumber_at, plan.renumber_to, 1000);
    if (c.options.count("after_end_ms")) plan.after_end_us = c.option("after_end_ms", 0) * 1000;
    if (c.options.count("stray_ms")) plan.stray_us = c.option("stray_ms", 0) * 1000;
    simlink::Link link;
    if (!link_of(c, link)) return true;
    plan.call = ++calls_played_;
    announce(plan, link);
    // One fate per burst and one for the end packet, which is never lost.
    std::vector<simlink::Fate> fates = simlink::impair(link, static_cast<size_t>(std::max(0, plan.bursts)) + 1,
                                                       plan.gap, o_.seed * 7907u + static_cast<uint32_t>(plan.call));
    fates.back().lost = false;

    plan.lc = simdmr::group_call_lc(plan.h.destination, plan.h.source);
    if (plan.private_call) plan.lc[0] = 0x03;
    const simdmr::EmbeddedBlock embedded = simdmr::embedded_lc_encode(plan.lc);
    // Every packet's time from the call's start, so a pacing other than
    // 60 ms holds however long the call.
    int64_t start = simclock::now_us() + 1000;
    if (plan.after_end_us >= 0 && st.last_end_due > 0) start = st.last_end_due + plan.after_end_us - plan.gap;
    int64_t due = start;
    plan.h.sequence = ++st.sequence;
    send_at(due, simhyt::build_sync(plan.h), "sync", "", "", plan.call, plan.hold);
    int64_t step = 1;
    for (int n = 0; n < plan.headers; ++n) play_lc_burst(plan, start + plan.gap * step++, false, {});
    for (int n = 0; n < plan.bursts; ++n) {
      const int64_t in_bunch = n % plan.bunch;
      due = start + plan.gap * (step + n - in_bunch) + in_bunch * 100;
      if (n == plan.renumber_at)
        st.sequence = static_cast<uint16_t>(plan.restart ? plan.renumber_to - 1 : st.sequence + plan.renumber_to);
      play_voice_burst(plan, n, embedded, due, fates[static_cast<size_t>(n)]);
    }
    due = start + plan.gap * (step + plan.bursts);
    if (plan.end) play_lc_burst(plan, due, true, fates.back());
    st.last_end_due = due;
    if (plan.stray_us >= 0 && plan.bursts > 0) {
      const simhyt::Packet copy = st.last_burst;
      rt_.at(
          due + plan.stray_us,
          [this, copy, call = plan.call] {
            voice_.send_to(bridge_, std::vector<uint8_t>(copy.begin(), copy.end()));
            const simhyt::Fields f = simhyt::parse(copy);
            log_.event("hyt_stray_tx").num("call", call).num("slot", f.slot).num("seq", f.sequence);
          },
          plan.hold);
    }
    return true;
  }

  void announce(const CallPlan& p, const simlink::Link& link) {
    const std::string link_text = simlink::describe(link);
    log_.say("playing %s call %d on timeslot %u: %u -> %u, %d bursts%s%s%s%s", p.private_call ? "private" : "group",
             p.call, p.h.slot, p.h.source, p.h.destination, p.bursts, p.bunch > 1 ? ", bunched" : "",
             p.end ? "" : ", no end packet", link.impaired() ? ", link " : "",
             link.impaired() ? link_text.c_str() : "");
    log_.event("hyt_call_tx")
        .num("call", p.call)
        .num("slot", p.h.slot)
        .num("src", p.h.source)
        .num("dst", p.h.destination)
        .flag("private", p.private_call)
        .num("bursts", p.bursts)
        .num("bunch", p.bunch)
        .num("errors", p.errors)
        .num("uncorrectable", p.uncorrectable)
        .flag("end", p.end)
        .num("first_seq", static_cast<uint16_t>(streams_[p.h.slot].sequence + 1))
        .num("gap_us", p.gap)
        .num("renumber_at", p.renumber_at)
        .num(p.restart ? "restart_to" : "jump_by", p.renumber_to)
        .num("after_end_us", p.after_end_us)
        .num("stray_us", p.stray_us)
        .flag("impaired", link.impaired())
        .str("link", link_text);
  }

  // The voice header (`end` false) or the terminator: the link control in a data burst.
  void play_lc_burst(CallPlan& p, int64_t due, bool end, simlink::Fate fate) {
    p.h.sequence = ++streams_[p.h.slot].sequence;
    p.h.kind = end ? simhyt::kKindEnd : simhyt::kKindVoice;
    p.h.frame_type = end ? simhyt::kFrameTerminator : simhyt::kFrameHeader;
    const dmrtest::Burst b = dmrtest::encode_lc_burst(
        p.lc.data(), 1, end ? dmrtest::kDataTypeTerminatorLc : dmrtest::kDataTypeVoiceLcHeader);
    simhyt::Burst burst;
    std::copy(b.begin(), b.end(), burst.begin());
    send_at(due, simhyt::build(p.h, burst), end ? "end" : "header", "", "", p.call, p.hold, fate);
  }

  // Voice burst n of the call (A..F over and over): three frames, some with
  // the bit errors the script asked for, around the sync or the EMB and a
  // fragment of the embedded LC.
  void play_voice_burst(CallPlan& p, int n, const simdmr::EmbeddedBlock& embedded, int64_t due, simlink::Fate fate) {
    const unsigned position = static_cast<unsigned>(n % 6);
    std::string expected, injected;
    const std::array<simdmr::AirFrame, 3> air = air_frames(p, n, expected, injected);
    uint64_t centre = simhyt::kVoiceSync;
    if (position > 0) {
      uint32_t signalling = 0;
      if (position < 5)
        for (unsigned i = 0; i < simdmr::kFragmentBits; ++i)
          signalling = signalling << 1 | embedded[simdmr::kFragmentBits * (position - 1) + i];
      centre = simhyt::emb_centre(simdmr::emb_encode(1, 0, simdmr::kBurstLcss[position]), signalling);
    }
    Stream& st = streams_[p.h.slot];
    p.h.sequence = ++st.sequence;
    p.h.kind = simhyt::kKindVoice;
    p.h.frame_type = simhyt::voice_frame_type(position);
    st.last_burst = simhyt::build(p.h, simhyt::voice_burst(air, centre));
    send_at(due, st.last_burst, "voice", expected, injected == "---" ? "" : injected, p.call, p.hold, fate);
  }

  // The air frames of burst n; `expected` gets what the repeater should
  // hear, `injected` one letter per frame (U uncorrectable, C correctable, - clean).
  std::array<simdmr::AirFrame, 3> air_frames(const CallPlan& p, int n, std::string& expected, std::string& injected) {
    std::array<simdmr::AirFrame, 3> air{};
    for (unsigned k = 0; k < 3; ++k) {
      const simdmr::VoiceBits v = frames_.next();
      air[k] = simdmr::encode_frame(v);
      const bool bad = k == 1 && n >= p.bursts / 2 && n < p.bursts / 2 + p.uncorrectable;
      if (bad) {
        simdmr::inject_errors(air[k], 4, 0, static_cast<uint32_t>(n * 3 + k + 1));
        injected += "U";
      } else if (k == static_cast<unsigned>(n % 3) && n >= 1 && n <= p.errors) {
        simdmr::inject_errors(air[k], 1 + n % 3, n % 4, static_cast<uint32_t>(n * 3 + k + 1));
        injected += "C";
      } else {
        injected += "-";
      }
      // An uncorrectable frame is replaced by the last good one of its timeslot.
      simdmr::VoiceBits& last = streams_[p.h.slot].last_delivered;
      if (!bad) last = v;
      expected += simdmr::voice_hex(last);
    }
    return air;
  }

  bool fuzz(const simscript::Command& c) {
    if (!need_bridge(c)) return true;
    const double seconds = std::min(c.seconds(0, 3), 30.0);
    const long count = std::min(c.option("count", 3000), 100000L);
    simrand::Xorshift32 rnd(o_.seed * 104729u + 3u);
    const int64_t start = simclock::now_us() + 1000;
    const std::string bridge_ip = inet_ntoa(bridge_.sin_addr);
    for (long n = 0; n < count; ++n) {
      std::vector<uint8_t> d(rnd() % 4 == 0 ? 72 : 1 + rnd() % 300);
      for (auto& b : d) b = static_cast<uint8_t>(rnd());
      const sockaddr_in to = simnet::address_of(bridge_ip, 62005 + static_cast<int>(n % 3));
      rt_.at(start + static_cast<int64_t>(seconds * 1e6) * n / count, [this, d, to] { voice_.send_to(to, d); });
    }
    log_.say("sending %ld random datagrams to the bridge's ports 62005..62007 over %.1f s", count, seconds);
    log_.event("fuzz").num("count", count).real("seconds", seconds);
    return true;
  }

  const Options& o_;
  simlog::EventLog& log_;
  simpeer::Runtime& rt_;
  simnet::UdpSocket voice_, rdac_;
  simmaster::VoiceChecker checker_;
  simdmr::FrameSource frames_;
  bool echo_;
  simlink::Link link_;
  sockaddr_in bridge_{};
  bool have_bridge_ = false;
  simmaster::RdacLong long_;
  bool have_long_ = false;
  // Each timeslot numbers its own packets (timeslot 1 from elsewhere than
  // timeslot 2, so a packet credited to the wrong slot shows) and keeps its
  // own last call.
  struct Stream {
    uint16_t sequence = 0;
    int64_t last_end_due = 0;  // when the last call's end packet was due
    simhyt::Packet last_burst{};
    simdmr::VoiceBits last_delivered{};
  };
  Stream streams_[3] = {{}, {5000, 0, {}, {}}, {}};
  int calls_played_ = 0;
  int a_received_ = 0, announcements_ = 0, positions_ = 0, others_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  return simpeer::run_peer_main<Master, Options>(argc, argv, "master  ", parse_options, usage);
}
