// moto_bridge_sim_repeater: a simulated Motorola repeater acting as IPSC
// master toward the bridge. It answers registration, peer-list and
// keep-alive requests, checks the signature of every datagram it receives,
// checks and records the bridge's voice calls on both timeslots, and plays
// voice calls and position reports on either timeslot, or calls on both at
// once, as its script tells it.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/event_log.h"
#include "../common/frame_source.h"
#include "../common/ipsc_packet.h"
#include "../common/peer_runtime.h"
#include "../common/script_timeslot.h"
#include "../common/sim_clock.h"
#include "../common/xorshift.h"
#include "call_checker.h"
#include "position_report.h"

namespace {

using simrepeater::CallChecker;
using simrepeater::position_text;
using simrepeater::PositionText;

struct Options {
  std::string bind = "192.0.2.2";
  int port = 50000;
  std::string key = "";
  uint32_t repeater_id = 0x12345;
  int peers = 2;
  std::string json;
  std::string script;
  std::string ambe;
  uint32_t seed = 1;
  double duration = 0;
};

void usage() {
  std::puts(
      "usage: moto_bridge_sim_repeater [--bind IP] [--port N] [--key HEX] [--repeater-id N]\n"
      "         [--peers N] [--json FILE] [--script FILE] [--ambe FILE] [--seed N] [--duration S]\n"
      "Script commands: sleep S | wait EVENT [S] [count=N] | quit\n"
      "  call group|private DST SRC [bursts=N] [headers=N] [gap_ms=60] [alias=TEXT] [slot=2|1] [hold=0]\n"
      "                              alias: as current firmware sends talker alias: a new\n"
      "                              stream every superframe, every other one carrying\n"
      "                              alias text where the identifiers belong\n"
      "                              slot: the timeslot (each has its own RTP sequence,\n"
      "                              timestamps and call numbers); hold=0: the script goes\n"
      "                              on at once, so a call on the other slot plays alongside\n"
      "  position SRC DST [mode=4|1|2|0] [blocks=4] [slot=2|1] [hold=0]\n"
      "  restart SILENT_SECONDS      forget the bridge, stay silent, then answer again\n"
      "  peers N                     entries in the next peer-list replies\n"
      "  peer_request 0x94|0x98 ID   ask the bridge as another peer would\n"
      "  fuzz SECONDS [count=N]      random datagrams to the bridge's IPSC port\n"
      "Events to wait for: registered, peer_list, keepalive, moto_start (a call from the bridge\n"
      "  began), moto_call (one ended), position_sent");
}

bool parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--bind")
      o.bind = value();
    else if (a == "--port")
      o.port = std::atoi(value());
    else if (a == "--key")
      o.key = value();
    else if (a == "--repeater-id")
      o.repeater_id = static_cast<uint32_t>(std::strtoul(value(), nullptr, 0));
    else if (a == "--peers")
      o.peers = std::atoi(value());
    else if (a == "--json")
      o.json = value();
    else if (a == "--script")
      o.script = value();
    else if (a == "--ambe")
      o.ambe = value();
    else if (a == "--seed")
      o.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 0));
    else if (a == "--duration")
      o.duration = std::atof(value());
    else
      return false;
  }
  return true;
}

const char* opcode_name(uint8_t op) {
  switch (op) {
    case simipsc::kRegisterRequest:
      return "registration request";
    case simipsc::kPeerListRequest:
      return "peer-list request";
    case simipsc::kKeepAliveRequest:
      return "keep-alive request";
    case simipsc::kPeerRegisterReply:
      return "peer registration reply";
    case simipsc::kPeerKeepAliveReply:
      return "peer keep-alive reply";
    case simipsc::kGroupVoice:
      return "group voice";
    case simipsc::kPrivateVoice:
      return "private voice";
    default:
      return "unknown";
  }
}

class Repeater {
 public:
  Repeater(const Options& o, simlog::EventLog& log, simpeer::Runtime& rt)
      : o_(o), log_(log), rt_(rt), checker_(log, key_), frames_(o.seed), peers_(o.peers) {}

  bool start() {
    if (!simipsc::parse_key(o_.key.c_str(), key_)) {
      std::fprintf(stderr, "bad --key: up to 40 hex digits\n");
      return false;
    }
    if (!o_.ambe.empty() && !frames_.load(o_.ambe)) {
      std::fprintf(stderr, "cannot read AMBE frames from %s\n", o_.ambe.c_str());
      return false;
    }
    if (!socket_.open(o_.bind, o_.port)) {
      std::fprintf(stderr, "%s\n", socket_.error().c_str());
      return false;
    }
    rt_.watch(socket_, [this](const simipsc::Bytes& d, const sockaddr_in& from, int64_t t) { receive(d, from, t); });
    log_.say("repeater %u listening on %s:%d", o_.repeater_id, o_.bind.c_str(), o_.port);
    log_.event("start").num("repeater_id", o_.repeater_id).num("port", o_.port);
    return true;
  }

  bool command(const simscript::Command& c) {
    if (c.verb == "call") return play_call(c);
    if (c.verb == "position") return play_position(c);
    if (c.verb == "restart") return restart(c.seconds(0, 10));
    if (c.verb == "peers") {
      peers_ = static_cast<int>(c.number(0, 2));
      log_.say("peer list now holds %d entries", peers_);
      return true;
    }
    if (c.verb == "peer_request") return peer_request(c);
    if (c.verb == "fuzz") return fuzz(c);
    return false;
  }

  void summary() {
    const std::string by_slot = simcalls::timeslot1_note(checker_.calls(1));
    log_.say(
        "summary: %d registration(s), %d keep-alive(s) answered, %d ignored, %d call(s) received%s, "
        "%d voice problem(s), %d bad signature(s)",
        registrations_, keepalives_answered_, keepalives_ignored_, checker_.calls(), by_slot.c_str(),
        checker_.problems(), bad_signatures_);
    log_.event("summary")
        .num("registrations", registrations_)
        .num("keepalives_answered", keepalives_answered_)
        .num("keepalives_ignored", keepalives_ignored_)
        .num("calls_received", checker_.calls())
        .num("calls_slot1", checker_.calls(1))
        .num("calls_slot2", checker_.calls(2))
        .num("voice_problems", checker_.problems())
        .num("bad_signatures", bad_signatures_)
        .num("datagrams", datagrams_);
  }

 private:
  void receive(const simipsc::Bytes& d, const sockaddr_in& from, int64_t t) {
    ++datagrams_;
    if (simclock::now_us() < silent_until_) {
      log_.event_at("ignored_while_restarting", t)
          .num("op", d.empty() ? -1 : d[0])
          .num("len", static_cast<int64_t>(d.size()));
      return;
    }
    if (d.empty()) return;
    const uint8_t op = d[0];
    const bool signature = simipsc::signature_valid(d, key_);
    const uint32_t peer = d.size() >= 5 ? simipsc::be32(&d[1]) : 0;
    if (!signature) {
      ++bad_signatures_;
      log_.say("BAD SIGNATURE on %s (0x%02x, %zu bytes) from %s", opcode_name(op), op, d.size(),
               simnet::text_of(from).c_str());
      log_.event_at("bad_signature", t).num("op", op).num("len", static_cast<int64_t>(d.size()));
    }
    switch (op) {
      case simipsc::kRegisterRequest:
        log_.event_at("registration", t)
            .num("peer", peer)
            .num("len", static_cast<int64_t>(d.size()))
            .flag("sig", signature)
            .num("mode", d.size() > 5 ? d[5] : -1)
            .str("from", simnet::text_of(from));
        if (!signature) return;
        bridge_ = from;
        bridge_id_ = peer;
        registered_ = true;
        ++registrations_;
        log_.say("registration from peer %u at %s, signature ok; answering with the 26-byte reply", peer,
                 simnet::text_of(from).c_str());
        socket_.send_to(from, simipsc::register_reply(o_.repeater_id, key_));
        rt_.saw("registered");
        return;
      case simipsc::kPeerListRequest:
        log_.event_at("peer_list_request", t)
            .num("peer", peer)
            .num("len", static_cast<int64_t>(d.size()))
            .flag("sig", signature);
        if (!signature || !registered_) return;
        log_.say("peer-list request from %u; answering with %d entries", peer, peers_);
        socket_.send_to(from, simipsc::peer_list_reply(o_.repeater_id, peer_entries(), key_));
        rt_.saw("peer_list");
        return;
      case simipsc::kKeepAliveRequest: {
        const bool answer = signature && registered_ && peer == bridge_id_;
        log_.event_at("keepalive", t)
            .num("peer", peer)
            .num("len", static_cast<int64_t>(d.size()))
            .flag("sig", signature)
            .flag("answered", answer);
        if (!answer) {
          ++keepalives_ignored_;
          log_.say("keep-alive from peer %u ignored: %s", peer, signature ? "not registered" : "bad signature");
          return;
        }
        ++keepalives_answered_;
        socket_.send_to(from, simipsc::keep_alive_reply(o_.repeater_id, key_));
        rt_.saw("keepalive");
        return;
      }
      case simipsc::kPeerRegisterReply:
      case simipsc::kPeerKeepAliveReply:
        log_.say("%s from %u, %zu bytes, signature %s", opcode_name(op), peer, d.size(), signature ? "ok" : "BAD");
        log_.event_at("peer_reply", t)
            .num("op", op)
            .num("peer", peer)
            .num("len", static_cast<int64_t>(d.size()))
            .flag("sig", signature);
        rt_.saw(op == simipsc::kPeerRegisterReply ? "peer_95" : "peer_99");
        return;
      case simipsc::kGroupVoice:
      case simipsc::kPrivateVoice:
        switch (checker_.take(d, t, bridge_id_)) {
          case CallChecker::Took::kOpened:
            rt_.saw("moto_start");
            break;
          case CallChecker::Took::kEnded:
            rt_.saw("moto_call");
            break;
          case CallChecker::Took::kNothing:
            break;
        }
        return;
      default:
        log_.say("unexpected datagram 0x%02x, %zu bytes", op, d.size());
        log_.event_at("unexpected", t).num("op", op).num("len", static_cast<int64_t>(d.size()));
    }
  }

  std::vector<simipsc::PeerEntry> peer_entries() const {
    std::vector<simipsc::PeerEntry> list;
    for (int n = 0; n < peers_; ++n) {
      simipsc::PeerEntry e;
      if (n == 0 && registered_) {
        e.id = bridge_id_;
        e.address = ntohl(bridge_.sin_addr.s_addr);
        e.port = ntohs(bridge_.sin_port);
      } else {
        e.id = 0x300000u + static_cast<uint32_t>(n);
        e.address = 0xC0000200u + static_cast<uint32_t>(10 + n);  // 192.0.2.10+n
        e.port = static_cast<uint16_t>(o_.port);
      }
      list.push_back(e);
    }
    return list;
  }

  bool need_bridge(const simscript::Command& c) {
    if (registered_) return true;
    log_.say("script line %d: \"%s\" needs a registered bridge; skipped", c.line, c.verb.c_str());
    log_.event("script_error").num("line", c.line).str("command", c.text()).str("reason", "not registered");
    return false;
  }

  simipsc::CallFields call_fields(bool private_call, uint32_t dst, uint32_t src, unsigned slot) {
    Stream& st = streams_[slot];
    simipsc::CallFields f;
    f.opcode = private_call ? simipsc::kPrivateVoice : simipsc::kGroupVoice;
    f.peer = o_.repeater_id;
    f.call_sequence = ++st.call_sequence;
    f.source = src;
    f.destination = dst;
    f.flags = simipsc::slot_flags(slot);
    for (int i = 0; i < 4; ++i) f.tag[i] = static_cast<uint8_t>(0x51 + 0x40 * (2 - slot) + st.call_sequence + i);
    return f;
  }

  // The next datagram of a call on `slot`: its RTP sequence number and timestamp.
  void next_datagram(simipsc::CallFields& f, unsigned slot) {
    Stream& st = streams_[slot];
    f.rtp_sequence = ++st.rtp_sequence;
    f.rtp_timestamp = (st.rtp_timestamp += 480);
  }

  // Sends d at `due` and records it, frames included, when it leaves;
  // `hold`: the script waits until it left.
  void send_at(int64_t due, simipsc::Bytes d, std::string kind, std::string frames, int call, bool hold,
               bool alias = false) {
    rt_.at(
        due,
        [this, d = std::move(d), kind = std::move(kind), frames = std::move(frames), call, alias] {
          const int64_t t = simclock::now_us();
          socket_.send_to(bridge_, d);
          const simipsc::CallFields c = simipsc::parse_call(d);
          auto e = log_.event_at("moto_voice_tx", t);
          e.str("kind", kind)
              .num("slot", simipsc::slot_of_flags(c.flags))
              .num("seq", c.rtp_sequence)
              .num("call", call)
              .num("src", c.source)
              .num("dst", c.destination)
              .flag("private", c.opcode == simipsc::kPrivateVoice);
          if (!frames.empty()) e.str("frames", frames);
          if (alias) e.flag("alias", true);
        },
        hold);
  }

  bool play_call(const simscript::Command& c) {
    unsigned slot = 2;
    if (!need_bridge(c) || !simscript::timeslot_or_error(c, slot, log_, "skipped")) return true;
    const bool private_call = c.word(0) == "private";
    const uint32_t dst = static_cast<uint32_t>(c.number(1, 9));
    const uint32_t src = static_cast<uint32_t>(c.number(2, 2620001));
    const int bursts = static_cast<int>(c.option("bursts", 18));
    const int headers = static_cast<int>(c.option("headers", 2));
    const int64_t gap = c.option("gap_ms", 60) * 1000;
    const bool hold = simscript::holds_script(c);
    const auto alias_option = c.options.find("alias");
    const std::string alias = alias_option == c.options.end() ? "" : alias_option->second;
    simipsc::CallFields f = call_fields(private_call, dst, src, slot);
    const int call = ++calls_played_;
    log_.say("playing %s call %d on timeslot %u: %u -> %u, %d headers, %d bursts%s%s",
             private_call ? "private" : "group", call, slot, src, dst, headers, bursts,
             alias.empty() ? "" : ", talker alias ", alias.c_str());
    log_.event("moto_call_tx")
        .num("call", call)
        .num("slot", slot)
        .num("src", src)
        .num("dst", dst)
        .flag("private", private_call)
        .num("bursts", bursts)
        .num("headers", headers)
        .num("first_seq", static_cast<uint16_t>(streams_[slot].rtp_sequence + 1))
        .str("alias", alias);
    int64_t due = simclock::now_us() + 1000;
    for (int h = 0; h < headers; ++h, due += gap) {
      next_datagram(f, slot);
      f.rtp_marker_type = h == 0 ? 0xDD : 0x5D;
      send_at(due, simipsc::voice_header(f, key_), "header", "", call, hold);
    }
    for (int b = 0; b < bursts; ++b, due += gap) {
      next_datagram(f, slot);
      const int superframe = b / 6;
      if (!alias.empty() && b % 6 == 0 && superframe > 0) f.call_sequence = ++streams_[slot].call_sequence;
      const bool alias_superframe = !alias.empty() && superframe % 2 == 1;
      simipsc::CallFields sent = f;
      uint8_t lc[9] = {};
      if (alias_superframe) alias_link_control(alias, superframe / 2, lc, sent);
      std::array<simdmr::VoiceBits, 3> voice{frames_.next(), frames_.next(), frames_.next()};
      std::string hex;
      for (const auto& v : voice) hex += simdmr::voice_hex(v);
      send_at(due,
              simipsc::voice_burst(sent, static_cast<unsigned>(b % 6), simipsc::pack_voice(voice), key_,
                                   alias_superframe ? lc : nullptr),
              "burst", hex, call, hold, alias_superframe);
    }
    next_datagram(f, slot);
    send_at(due, simipsc::voice_terminator(f, key_), "terminator", "", call, hold);
    return true;
  }

  // The n-th talker-alias superframe of an over: link control 0x04 (the
  // header) and its blocks 0x05.. in turn, six characters of the text each
  // where destination and source belong, in burst E and in the datagram's
  // own identifiers alike.
  static void alias_link_control(const std::string& text, int n, uint8_t* lc, simipsc::CallFields& f) {
    const int blocks = std::min(4, std::max(1, static_cast<int>(text.size() + 5) / 6));
    const int block = n % blocks;
    lc[0] = static_cast<uint8_t>(simipsc::call::kFlcoTalkerAliasHeader + block);
    if (block == 0)
      lc[2] = static_cast<uint8_t>(0x40 | (std::min<size_t>(text.size(), 31) << 1));  // 8-bit text, length
    for (int i = 0; i < 6; ++i) {
      const size_t at = static_cast<size_t>(6 * block + i);
      lc[3 + i] = at < text.size() ? static_cast<uint8_t>(text[at]) : 0;
    }
    f.destination = simipsc::be24(&lc[3]);
    f.source = simipsc::be24(&lc[6]);
  }

  bool play_position(const simscript::Command& c) {
    unsigned slot = 2;
    if (!need_bridge(c) || !simscript::timeslot_or_error(c, slot, log_, "skipped")) return true;
    const uint32_t src = static_cast<uint32_t>(c.number(0, 2620001));
    const uint32_t dst = static_cast<uint32_t>(c.number(1, 5057));
    const int mode = static_cast<int>(c.option("mode", 4));
    const int blocks = static_cast<int>(c.option("blocks", 4));
    const bool hold = simscript::holds_script(c);
    const PositionText text = position_text(mode, ++positions_);
    simipsc::CallFields f = call_fields(false, dst, src, slot);
    int64_t due = simclock::now_us() + 1000;
    auto send = [&](uint8_t type, const uint8_t* block) {
      next_datagram(f, slot);
      simipsc::Bytes d = simipsc::data_packet(f, type, block, key_);
      rt_.at(
          due, [this, d] { socket_.send_to(bridge_, d); }, hold);
      due += 60000;
    };
    send(simipsc::kDataHeader, nullptr);
    for (int b = 0; b < blocks; ++b) send(simipsc::kDataBlock, text.block(b));
    rt_.at(
        due,
        [this, text, src, dst, blocks, slot] {
          log_.say(
              "sent position report %u -> %u on timeslot %u: lat %s lon %s speed %s, dot at %d (mode %c), %d blocks",
              src, dst, slot, text.latitude.c_str(), text.longitude.c_str(), text.speed.c_str(), text.dot,
              text.mode_digit, blocks);
          log_.event("position_tx")
              .num("slot", slot)
              .num("src", src)
              .num("dst", dst)
              .str("lat", text.latitude)
              .str("lon", text.longitude)
              .str("speed", text.speed)
              .str("mode", std::string(1, text.mode_digit))
              .num("dot", text.dot)
              .num("blocks", blocks)
              .num("peer", o_.repeater_id);
          rt_.saw("position_sent");
        },
        hold);
    return true;
  }

  bool restart(double seconds) {
    log_.say("restarting: forgetting peer %u, silent for %.1f s", bridge_id_, seconds);
    log_.event("restart").num("silent_s", static_cast<int64_t>(seconds));
    registered_ = false;
    silent_until_ = simclock::now_us() + static_cast<int64_t>(seconds * 1e6);
    return true;
  }

  bool peer_request(const simscript::Command& c) {
    if (!need_bridge(c)) return true;
    const uint8_t op = static_cast<uint8_t>(c.number(0, simipsc::kPeerRegisterRequest));
    const uint32_t id = static_cast<uint32_t>(c.number(1, 0x300001));
    log_.say("asking the bridge as peer %u with 0x%02x", id, op);
    socket_.send_to(bridge_, simipsc::peer_request(op, id, key_));
    return true;
  }

  bool fuzz(const simscript::Command& c) {
    if (!need_bridge(c)) return true;
    const double seconds = std::min(c.seconds(0, 3), 30.0);
    const long count = std::min(c.option("count", 3000), 100000L);
    simrand::Xorshift32 rnd(o_.seed * 7919u + 17u);
    const int64_t start = simclock::now_us() + 1000;
    for (long n = 0; n < count; ++n) {
      simipsc::Bytes d(1 + rnd() % 300);
      for (auto& b : d) b = static_cast<uint8_t>(rnd());
      // A peer list naming three or more peers stops the bridge's Motorola
      // side by design; every other opcode is fair game.
      if (d[0] == simipsc::kPeerListReply) d[0] = 0x00;
      rt_.at(start + static_cast<int64_t>(seconds * 1e6) * n / count, [this, d] { socket_.send_to(bridge_, d); });
    }
    log_.say("sending %ld random datagrams to the bridge's IPSC port over %.1f s", count, seconds);
    log_.event("fuzz").num("count", count).real("seconds", seconds);
    return true;
  }

  const Options& o_;
  simlog::EventLog& log_;
  simpeer::Runtime& rt_;
  simipsc::Key key_{};
  simnet::UdpSocket socket_;
  CallChecker checker_;
  simdmr::FrameSource frames_;
  int peers_;
  sockaddr_in bridge_{};
  uint32_t bridge_id_ = 0;
  bool registered_ = false;
  int64_t silent_until_ = 0;
  // Each timeslot numbers its own datagrams and calls; timeslot 1 from
  // elsewhere than timeslot 2, so a datagram credited to the wrong slot shows.
  struct Stream {
    uint16_t rtp_sequence;
    uint32_t rtp_timestamp;
    uint8_t call_sequence;
  };
  Stream streams_[3] = {{0, 0, 0}, {3000, 0x30000000, 0}, {1000, 0x10000000, 0}};
  int calls_played_ = 0;
  int positions_ = 0;
  int registrations_ = 0, keepalives_answered_ = 0, keepalives_ignored_ = 0, bad_signatures_ = 0;
  long datagrams_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  return simpeer::run_peer_main<Repeater, Options>(argc, argv, "repeater", parse_options, usage);
}
