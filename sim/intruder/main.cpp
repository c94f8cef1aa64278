// moto_bridge_sim_intruder: a third host on the test network that tries the
// bridge's doors with datagrams the bridge must not act on: IPSC requests,
// replies, peer lists and calls under a wrong key (or none), network voice,
// "A" echoes and RDAC answers from an address that is not the network
// master, and bounded floods of any of them. It can also record a signed
// datagram as it crosses a link and send the copy again. It counts whatever
// the bridge sends back to it, which should be nothing.
//
//   moto_bridge_sim_intruder --to 192.0.2.1:50000 --kind peer_register --key 01..
//   moto_bridge_sim_intruder --to 192.0.2.2:50000 --kind record --opcode 0x96 --out FILE
//   moto_bridge_sim_intruder --to 192.0.2.1:50000 --kind replay --in FILE --from 192.0.2.4
//
// Every run is bounded: at most --count datagrams (1000000 at the most) and
// --max-seconds (60 at the most), then --listen-ms for late answers.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../common/ambe_frame.h"
#include "../common/dmr_burst_decoder.h"
#include "../common/embedded_signalling.h"
#include "../common/hytera_packet.h"
#include "../common/ipsc_packet.h"
#include "../common/udp_socket.h"
#include "../common/xorshift.h"
#include "recorder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Options {
  std::string to_ip;
  int to_port = 0;
  std::vector<std::string> from = {"192.0.2.3"};
  int from_port = 0;
  std::string kind;
  long count = 1;
  double rate = 50;
  double max_seconds = 30;
  int listen_ms = 500;
  bool keyed = false;
  simipsc::Key key{};
  uint32_t source = 2629999;
  uint32_t destination = 9;
  uint32_t peer = 2629990;
  int opcode = -1;
  std::string recording;  // --out for record, --in for replay
};

void usage() {
  fputs(
      "usage: moto_bridge_sim_intruder --to IP:PORT --kind KIND [--from IP[,IP...]] [--from-port N]\n"
      "         [--count N] [--rate PER_SECOND] [--max-seconds S] [--listen-ms MS] [--key HEX]\n"
      "         [--src ID] [--dst ID] [--peer ID]\n"
      "kinds (IPSC, signed with --key or carrying a zero trailer without it):\n"
      "  peer_register peer_keepalive register_reply keepalive_reply peer_list3 ipsc_call\n"
      "kinds (network master side): hytera_call echo rdac_answer\n"
      "  junk                        random bytes of random length (1..300)\n"
      "  record --opcode N --out FILE  the first datagram to --to starting with N, as it crosses\n"
      "                              this host (a packet socket, root), written as hex; --max-seconds\n"
      "  replay --in FILE            that datagram sent again as it stands\n"
      "A call is its header, 12 bursts and its end, repeated while --count lasts.\n"
      "Prints: sent=N received=M\n",
      stdout);
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--help") {
      usage();
      exit(0);
    } else if (a == "--to") {
      const std::string v = value();
      const size_t colon = v.find(':');
      if (colon == std::string::npos) return false;
      o.to_ip = v.substr(0, colon);
      o.to_port = atoi(v.c_str() + colon + 1);
    } else if (a == "--from") {
      o.from.clear();
      std::string v = value();
      for (size_t start = 0; start <= v.size();) {
        const size_t comma = std::min(v.find(',', start), v.size());
        if (comma > start) o.from.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (a == "--from-port") {
      o.from_port = atoi(value());
    } else if (a == "--kind") {
      o.kind = value();
    } else if (a == "--count") {
      o.count = std::clamp(atol(value()), 0L, 1000000L);
    } else if (a == "--rate") {
      o.rate = std::clamp(atof(value()), 0.1, 20000.0);
    } else if (a == "--max-seconds") {
      o.max_seconds = std::clamp(atof(value()), 0.0, 60.0);
    } else if (a == "--listen-ms") {
      o.listen_ms = std::clamp(atoi(value()), 0, 10000);
    } else if (a == "--key") {
      o.keyed = simipsc::parse_key(value(), o.key);
      if (!o.keyed) return false;
    } else if (a == "--src") {
      o.source = static_cast<uint32_t>(atol(value()));
    } else if (a == "--dst") {
      o.destination = static_cast<uint32_t>(atol(value()));
    } else if (a == "--peer") {
      o.peer = static_cast<uint32_t>(atol(value()));
    } else if (a == "--opcode") {
      o.opcode = static_cast<int>(strtol(value(), nullptr, 0));
    } else if (a == "--out" || a == "--in") {
      o.recording = value();
    } else {
      return false;
    }
  }
  // A recording needs a first byte to look for, which no datagram could
  // match outside 0..255, and a file to keep it in.
  if (o.kind == "record" && (o.opcode < 0 || o.opcode > 0xFF || o.recording.empty())) return false;
  return !o.to_ip.empty() && o.to_port > 0 && !o.kind.empty() && !o.from.empty();
}

// An IPSC datagram of `length` bytes whose last 10 are the trailer: under the
// given key, or left zero.
Bytes ipsc(const Options& o, Bytes head, size_t length) {
  head.resize(length - 10, 0);
  if (o.keyed) {
    simipsc::append_signature(head, o.key);
  } else {
    head.resize(length, 0);
  }
  return head;
}

Bytes ipsc_head(uint8_t opcode, uint32_t peer) {
  Bytes d(5);
  d[0] = opcode;
  simipsc::put_be32(&d[1], peer);
  return d;
}

// The datagrams of one round of a kind; the run cycles through them.
std::vector<Bytes> round_of(const Options& o) {
  std::vector<Bytes> round;
  if (o.kind == "peer_register") {
    round.push_back(ipsc(o, ipsc_head(simipsc::kPeerRegisterRequest, o.peer), 20));
  } else if (o.kind == "peer_keepalive") {
    round.push_back(ipsc(o, ipsc_head(simipsc::kPeerKeepAliveRequest, o.peer), 20));
  } else if (o.kind == "register_reply") {
    round.push_back(ipsc(o, ipsc_head(simipsc::kRegisterReply, o.peer), 26));
  } else if (o.kind == "keepalive_reply") {
    round.push_back(ipsc(o, ipsc_head(simipsc::kKeepAliveReply, o.peer), 24));
  } else if (o.kind == "peer_list3") {
    // Three peers at 192.0.2.10..12, port 50000: one too many for the bridge.
    std::vector<simipsc::PeerEntry> peers;
    for (uint32_t n = 0; n < 3; ++n) peers.push_back({o.peer + 1 + n, 0xC0000200u + 10 + n, 50000});
    Bytes d = simipsc::peer_list_reply(o.peer, peers, o.keyed ? o.key : simipsc::Key{});
    if (!o.keyed) std::fill(d.end() - 10, d.end(), 0);
    round.push_back(d);
  } else if (o.kind == "ipsc_call") {
    simipsc::CallFields f;
    f.peer = o.peer;
    f.source = o.source;
    f.destination = o.destination;
    f.call_sequence = 0x42;
    const simipsc::Key key = o.keyed ? o.key : simipsc::Key{};
    uint16_t sequence = 7000;
    auto next = [&] {
      f.rtp_sequence = ++sequence;
      f.rtp_timestamp = 480u * sequence;
    };
    next();
    f.rtp_marker_type = simipsc::call::kMarkerFirstHeader;
    round.push_back(simipsc::voice_header(f, key));
    f.rtp_marker_type = simipsc::call::kMarkerVoice;
    for (unsigned b = 0; b < 12; ++b) {
      next();
      std::array<simdmr::VoiceBits, 3> voice{};
      for (auto& v : voice)
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>((i * 7 + b) & 1);
      round.push_back(simipsc::voice_burst(f, b % 6, simipsc::pack_voice(voice), key));
    }
    next();
    round.push_back(simipsc::voice_terminator(f, key));
    if (!o.keyed)  // the builders always sign: take the trailer away again
      for (Bytes& d : round) std::fill(d.end() - 10, d.end(), 0);
  } else if (o.kind == "hytera_call") {
    simhyt::Header h;
    h.source = o.source;
    h.destination = o.destination;
    const simdmr::LinkControl lc = simdmr::group_call_lc(o.destination, o.source);
    const simdmr::EmbeddedBlock embedded = simdmr::embedded_lc_encode(lc);
    h.sequence = 1;
    h.kind = simhyt::kKindSync;
    h.frame_type = simhyt::kFrameSync;
    auto packet = [](const simhyt::Packet& p) { return Bytes(p.begin(), p.end()); };
    round.push_back(packet(simhyt::build_sync(h)));
    auto lc_burst = [&](uint8_t data_type) {
      const dmrtest::Burst b = dmrtest::encode_lc_burst(lc.data(), 1, data_type);
      simhyt::Burst burst;
      std::copy(b.begin(), b.end(), burst.begin());
      return burst;
    };
    h.sequence = 2;
    h.kind = simhyt::kKindVoice;
    h.frame_type = simhyt::kFrameHeader;
    round.push_back(packet(simhyt::build(h, lc_burst(dmrtest::kDataTypeVoiceLcHeader))));
    for (unsigned n = 0; n < 12; ++n) {
      const unsigned position = n % 6;
      std::array<simdmr::AirFrame, 3> air{};
      for (auto& frame : air) frame = simdmr::encode_frame(simdmr::VoiceBits{});
      uint64_t centre = simhyt::kVoiceSync;
      if (position > 0) {
        uint32_t signalling = 0;
        if (position < 5)
          for (unsigned i = 0; i < 32; ++i) signalling = signalling << 1 | embedded[32 * (position - 1) + i];
        centre = simhyt::emb_centre(simdmr::emb_encode(1, 0, simdmr::kBurstLcss[position]), signalling);
      }
      h.sequence = static_cast<uint16_t>(3 + n);
      h.frame_type = simhyt::voice_frame_type(position);
      round.push_back(packet(simhyt::build(h, simhyt::voice_burst(air, centre))));
    }
    h.sequence = 15;
    h.kind = simhyt::kKindEnd;
    h.frame_type = simhyt::kFrameTerminator;
    round.push_back(packet(simhyt::build(h, lc_burst(dmrtest::kDataTypeTerminatorLc))));
  } else if (o.kind == "replay") {
    Bytes d;
    if (simintruder::read_hex_file(o.recording, &d)) round.push_back(d);
  } else if (o.kind == "echo") {
    round.push_back(Bytes{'A'});
  } else if (o.kind == "rdac_answer") {
    round.push_back(Bytes(24, 0x7e));
  } else if (o.kind != "junk") {
    return {};
  }
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  Options o;
  if (!parse(argc, argv, o)) {
    usage();
    return 2;
  }
  if (o.kind == "record") {
    Bytes d;
    std::string error;
    if (!simintruder::record_datagram(simnet::address_of(o.to_ip, o.to_port), o.opcode,
                                      static_cast<int>(o.max_seconds * 1000), &d, &error)) {
      printf("recorded nothing: %s\n", error.c_str());
      return 1;
    }
    if (!simintruder::write_hex_file(o.recording, d)) {
      printf("recorded %zu bytes but cannot write them to %s\n", d.size(), o.recording.c_str());
      return 1;
    }
    printf("recorded %zu bytes\n", d.size());
    return 0;
  }
  const std::vector<Bytes> round = round_of(o);
  if (round.empty() && o.kind == "replay") {
    fprintf(stderr, "cannot read a recording from %s\n", o.recording.c_str());
    return 2;
  }
  if (round.empty() && o.kind != "junk") {
    fprintf(stderr, "unknown kind %s\n", o.kind.c_str());
    return 2;
  }
  std::vector<std::unique_ptr<simnet::UdpSocket>> sockets;
  for (const std::string& ip : o.from) {
    auto s = std::make_unique<simnet::UdpSocket>();
    if (!s->open(ip, o.from_port)) {
      fprintf(stderr, "cannot bind %s:%d: %s\n", ip.c_str(), o.from_port, s->error().c_str());
      return 1;
    }
    sockets.push_back(std::move(s));
  }
  const sockaddr_in to = simnet::address_of(o.to_ip, o.to_port);
  simrand::Xorshift32 random(0x1234567u + static_cast<uint32_t>(o.to_port));

  long sent = 0, received = 0;
  auto drain = [&] {
    for (auto& s : sockets) {
      Bytes d;
      sockaddr_in from{};
      while (s->receive(d, from)) {
        ++received;
        printf("received %zu bytes from %s\n", d.size(), simnet::text_of(from).c_str());
      }
    }
  };
  using clock = std::chrono::steady_clock;
  const auto begin = clock::now();
  const auto end = begin + std::chrono::milliseconds(static_cast<long>(o.max_seconds * 1000));
  const double interval_us = 1e6 / o.rate;
  for (; sent < o.count && clock::now() < end; ++sent) {
    Bytes d;
    if (o.kind == "junk") {
      d.resize(1 + random() % 300);
      for (auto& b : d) b = static_cast<uint8_t>(random());
    } else {
      d = round[static_cast<size_t>(sent) % round.size()];
    }
    sockets[static_cast<size_t>(sent) % sockets.size()]->send_to(to, d);
    if (sent % 64 == 0) drain();
    const auto due = begin + std::chrono::microseconds(static_cast<long>((sent + 1) * interval_us));
    if (due > clock::now()) std::this_thread::sleep_until(due);
  }
  const auto listen_end = clock::now() + std::chrono::milliseconds(o.listen_ms);
  while (clock::now() < listen_end) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  drain();
  printf("sent=%ld received=%ld\n", sent, received);
  return 0;
}
