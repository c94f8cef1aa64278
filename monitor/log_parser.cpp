#include "log_parser.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace monitor {

namespace {

// A cursor over one line: literal texts and numbers in turn.
class Scan {
 public:
  explicit Scan(std::string_view s) : s_(s) {}
  bool lit(std::string_view text) {
    if (s_.substr(0, text.size()) != text) return false;
    s_.remove_prefix(text.size());
    return true;
  }
  bool num(int64_t* out) {
    const char* begin = s_.data();
    const char* end = begin + s_.size();
    auto [p, ec] = std::from_chars(begin, end, *out);
    if (ec != std::errc() || p == begin) return false;
    s_.remove_prefix(static_cast<size_t>(p - begin));
    return true;
  }
  // Text up to (not including) `stop`, at most `capacity - 1` characters.
  bool until(char stop, char* out, size_t capacity) {
    const size_t at = s_.find(stop);
    if (at == std::string_view::npos || at >= capacity) return false;
    std::memcpy(out, s_.data(), at);
    out[at] = '\0';
    s_.remove_prefix(at);
    return true;
  }
  // The rest of the line, when it fits.
  bool rest(char* out, size_t capacity) {
    if (s_.size() >= capacity) return false;
    std::memcpy(out, s_.data(), s_.size());
    out[s_.size()] = '\0';
    s_ = {};
    return true;
  }
  bool done() const { return s_.empty(); }
  std::string_view left() const { return s_; }

 private:
  std::string_view s_;
};

bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool contains(std::string_view s, std::string_view p) { return s.find(p) != std::string_view::npos; }

// A dotted IPv4 address of at most 15 characters.
bool dotted(const char* text) {
  int parts = 0, digits = 0, value = 0;
  for (const char* p = text;; ++p) {
    if (*p >= '0' && *p <= '9') {
      value = value * 10 + (*p - '0');
      if (++digits > 3 || value > 255) return false;
    } else if (*p == '.' || *p == '\0') {
      if (digits == 0) return false;
      ++parts;
      digits = value = 0;
      if (*p == '\0') return parts == 4;
    } else {
      return false;
    }
  }
}

bool config_value(std::string_view line, LogEvent* e) {
  struct Setting {
    std::string_view prefix;
    ConfigKey key;
    bool numeric;
  };
  static constexpr Setting kSettings[] = {
      {"RptrCall=[", ConfigKey::kCall, false},
      {"RptrID=[", ConfigKey::kRepeaterId, true},
      {"RptrIP=[", ConfigKey::kRepeaterIp, false},
      {"RptrPort=[", ConfigKey::kRepeaterPort, true},
      {"MasterIP=[", ConfigKey::kMasterIp, false},
      {"RptrQRGtx=[", ConfigKey::kTxHz, true},
      {"RptrQRGrx=[", ConfigKey::kRxHz, true},
      {"MyBridgeID=[", ConfigKey::kBridgeId, true},
      {"JitterBuffer=[", ConfigKey::kJitterBuffer, false},
      {"Timeslots=[", ConfigKey::kTimeslots, false},
  };
  for (const Setting& s : kSettings) {
    Scan c(line);
    if (!c.lit(s.prefix)) continue;
    e->config = s.key;
    if (s.numeric) {
      if (!c.num(&e->n[0]) || !c.lit("]")) return false;
    } else {
      if (!c.until(']', e->text[0], 16)) return false;
      if (s.key == ConfigKey::kJitterBuffer) {
        e->flag = std::strcmp(e->text[0], "auto") == 0;
        if (!e->flag) {
          Scan ms(e->text[0]);
          if (!ms.num(&e->n[0]) || !ms.done()) return false;
        }
      }
      if (s.key == ConfigKey::kTimeslots) {
        const std::string_view slots(e->text[0]);
        e->n[0] = slots == "1" ? 1 << 1 : slots == "2" ? 1 << 2 : slots == "1,2" ? (1 << 1) | (1 << 2) : 0;
        if (e->n[0] == 0) return false;
      }
      if ((s.key == ConfigKey::kRepeaterIp || s.key == ConfigKey::kMasterIp) && !dotted(e->text[0])) return false;
    }
    e->kind = LineKind::kConfigValue;
    return true;
  }
  return false;
}

// "[%i]Decoded GPS %s [%d]: LAT(%-9.9s) LONG(%-9.9s) SPEED(%-3.3s) RPT:%i"
bool position(std::string_view line, LogEvent* e) {
  Scan c(line);
  if (!c.lit("[") || !c.num(&e->n[0]) || !c.lit("]Decoded GPS ")) return false;
  static constexpr std::string_view kModes[] = {"Auto Time+Dist", "Manual", "Auto Time", "unknown"};
  bool mode_known = false;
  for (std::string_view m : kModes) {
    Scan t(c.left());
    if (t.lit(m) && t.lit(" [")) {
      c.lit(m);
      std::memcpy(e->mode, m.data(), m.size());
      e->mode[m.size()] = '\0';
      mode_known = true;
      break;
    }
  }
  if (!mode_known || !c.lit(" [") || !c.num(&e->n[1]) || !c.lit("]: LAT(")) return false;
  // The texts are exactly as wide as printed; the radio's bytes may hold
  // anything, so the closing brackets are found by width, not by search.
  auto fixed = [&c](size_t width, char* out) {
    std::string_view rest = c.left();
    if (rest.size() < width + 1 || rest[width] != ')') return false;
    std::memcpy(out, rest.data(), width);
    out[width] = '\0';
    c = Scan(rest.substr(width + 1));
    while (width > 0 && out[width - 1] == ' ') out[--width] = '\0';
    return true;
  };
  if (!fixed(9, e->text[0]) || !c.lit(" LONG(") || !fixed(9, e->text[1]) || !c.lit(" SPEED(") || !fixed(3, e->text[2]))
    return false;
  if (!c.lit(" RPT:") || !c.num(&e->n[2]) || !c.done()) return false;
  e->kind = LineKind::kPosition;
  return true;
}

// The lines of a timeslot-1 call that do not name their slot otherwise end
// so; timeslot 2's lines are as they always were.
constexpr std::string_view kSlotOneSuffix = " slot:1";

bool takes_slot_suffix(LineKind kind) {
  switch (kind) {
    case LineKind::kRfCallEnd:
    case LineKind::kNetCallStart:
    case LineKind::kNetCallEnd:
    case LineKind::kNetCallTimeout:
    case LineKind::kBitErrorRate:
    case LineKind::kUncorrectableFrame:
    case LineKind::kSequenceGap:
    case LineKind::kOutOfOrder:
    case LineKind::kDoubledId:
    case LineKind::kPacing:
    case LineKind::kJitterStart:
    case LineKind::kJitterEnd:
    case LineKind::kPosition:
      return true;
    default:
      return false;
  }
}

}  // namespace

LogEvent LogParser::parse(std::string_view line) {
  const bool slot_one = line.size() > kSlotOneSuffix.size() && line.ends_with(kSlotOneSuffix);
  if (!slot_one) return parse_line(line);
  LogEvent e = parse_line(line.substr(0, line.size() - kSlotOneSuffix.size()));
  if (takes_slot_suffix(e.kind)) {
    e.slot = 1;
  } else if (e.kind != LineKind::kSecret) {
    // Lines that name their slot, or have none, never end so.
    LogEvent refused;
    refused.has_time = e.has_time;
    refused.time = e.time;
    e = refused;
  }
  return e;
}

LogEvent LogParser::parse_line(std::string_view line) {
  LogEvent e;
  // The key is never kept, whatever shape the line is in.
  if (contains(line, "NetworkKey") || contains(line, "KeyBytes")) {
    e.kind = LineKind::kSecret;
    return e;
  }
  if (time_text_.parse(line, &e.time)) {
    e.has_time = true;
    if (line.size() > kTimeTextLength + 1 && line[kTimeTextLength] == ' ' &&
        parse_timed(line.substr(kTimeTextLength + 1), &e))
      return e;
  } else if (parse_untimed(line, &e)) {
    return e;
  }
  // A banner or a half-written line may run on into a timed line: parse from
  // the last time text in the line, if any.
  for (size_t at = line.size() >= kTimeTextLength + 2 ? line.size() - kTimeTextLength - 2 : 0; at > 0; --at) {
    if (!LogTimeText::looks_like(line.substr(at))) continue;
    LogEvent tail;
    if (time_text_.parse(line.substr(at), &tail.time) && line.size() > at + kTimeTextLength + 1 &&
        line[at + kTimeTextLength] == ' ' && parse_timed(line.substr(at + kTimeTextLength + 1), &tail)) {
      tail.has_time = true;
      return tail;
    }
    break;
  }
  // A position report printed right behind another thread's half line.
  const size_t gps = line.find("]Decoded GPS ");
  if (gps != std::string_view::npos) {
    const size_t open = line.rfind('[', gps);
    LogEvent tail;
    if (open != std::string_view::npos && open > 0 && position(line.substr(open), &tail)) return tail;
  }
  const bool had_time = e.has_time;
  const int64_t time = e.time;
  e = LogEvent();
  e.has_time = had_time;
  e.time = time;
  return e;
}

bool LogParser::parse_timed(std::string_view rest, LogEvent* e) {
  Scan c(rest);
  int64_t* n = e->n;
  auto is = [e](LineKind kind) {
    e->kind = kind;
    return true;
  };
  if (c.lit("Moto RX+ slot:")) {
    if (c.num(&n[3]) && (n[3] == 1 || n[3] == 2) && c.lit(" destination_id:") && c.num(&n[1]) && c.lit(" source_id:") &&
        c.num(&n[0]) && c.lit(" rptr_id:") && c.num(&n[2]) && c.done()) {
      e->slot = static_cast<int>(n[3]);
      return is(LineKind::kRfCallStart);
    }
    return false;
  }
  if (c.lit("Moto RX- ID:")) return c.num(&n[0]) && c.done() && is(LineKind::kRfCallEnd);
  // The network's slot field is logged as it came: any small number.
  if (c.lit("RX SLOT=")) {
    if (!(c.num(&n[2]) && n[2] >= 0 && n[2] <= 15)) return false;
    e->slot = static_cast<int>(n[2]);
    return c.lit(" DST_ID=") && c.num(&n[1]) && c.lit(" SRC_ID=") && c.num(&n[0]) && c.lit(" TYPE=Voice") && c.done() &&
           is(LineKind::kNetReceive);
  }
  if (c.lit("VOICE RX SLOT ")) {
    if (!(c.num(&n[2]) && n[2] >= 0 && n[2] <= 15)) return false;
    e->slot = static_cast<int>(n[2]);
    return c.lit(" END USER_ID=") && c.num(&n[0]) && c.done() && is(LineKind::kNetReceiveEnd);
  }
  if (c.lit("PTT ON ")) {
    e->flag = !c.lit("without START ");
    return c.num(&n[0]) && c.done() && is(LineKind::kNetCallStart);
  }
  if (c.lit("PTT OFF ")) return c.num(&n[0]) && c.done() && is(LineKind::kNetCallEnd);
  if (c.lit("TX TIMEOUT ")) return c.num(&n[0]) && c.done() && is(LineKind::kNetCallTimeout);
  if (c.lit("add delay: ")) {
    return c.num(&n[0]) && c.lit("us to pacnum: ") && c.num(&n[1]) && c.done() && is(LineKind::kPacing);
  }
  if (c.lit("Sende Anmeldung an DMR Master  IP:")) {
    return c.rest(e->text[0], 16) && dotted(e->text[0]) && is(LineKind::kLogin);
  }
  if (c.lit("Repeater not registered, send registration to IP:")) {
    return c.until(' ', e->text[0], 16) && dotted(e->text[0]) && c.lit(" Port:") && c.num(&n[0]) && c.done() &&
           is(LineKind::kNotRegistered);
  }
  if (c.lit("Jitter buffer ")) {
    if (!c.num(&n[0])) return false;
    if (c.lit(" start: lead ")) {
      if (!c.num(&n[1]) || !c.lit(" ms (")) return false;
      e->flag = c.lit("auto)");
      if (!e->flag && !c.lit("fixed)")) return false;
      return c.done() && is(LineKind::kJitterStart);
    }
    if (!(c.lit(" end: lead ") && c.num(&n[1]) && c.lit(" ms, bursts ") && c.num(&n[2]) && c.lit(", late ") &&
          c.num(&n[3]) && c.lit(", lost ") && c.num(&n[4]) && c.lit(", filled ") && c.num(&n[5])))
      return false;
    // Daemons from before the grid followed the master's clock end here.
    e->flag = !c.done();
    if (e->flag && !(c.lit(", slipped ") && c.num(&n[6]) && c.lit(", skipped ") && c.num(&n[7]) &&
                     c.lit(", re-anchored ") && c.num(&n[8])))
      return false;
    return c.done() && is(LineKind::kJitterEnd);
  }
  if (c.lit("Dropped datagram from ")) {
    if (!c.until(':', e->text[0], 16) || !dotted(e->text[0]) || !c.lit(":") || !c.num(&n[0]) || !c.lit(" on port ") ||
        !c.num(&n[1]) || !c.lit(": "))
      return false;
    static constexpr struct {
      std::string_view text;
      DropReason reason;
    } kReasons[] = {{"bad signature", DropReason::kBadSignature},
                    {"not the network master", DropReason::kNotNetworkMaster},
                    {"too long", DropReason::kTooLong},
                    {"reflected", DropReason::kReflected},
                    {"keep-alive reply not asked for", DropReason::kUnaskedKeepAliveReply}};
    e->reason = DropReason::kOther;  // unless known: a reason of a newer daemon
    for (const auto& r : kReasons)
      if (c.left() == r.text) {
        e->reason = r.reason;
        break;
      }
    return is(LineKind::kDropped);
  }
  if (c.lit("Dropped on port ")) {
    if (!c.num(&n[0]) || !c.lit(" in the last minute: ") || !c.num(&n[1]) || !c.lit(" datagrams from ") ||
        !c.num(&n[2]) || !c.lit(" senders"))
      return false;
    if (c.done()) return is(LineKind::kDropSummary);
    return c.lit(", most from ") && c.until(' ', e->text[0], 16) && dotted(e->text[0]) && c.lit(" (") && c.num(&n[3]) &&
           c.lit(")") && c.done() && is(LineKind::kDropSummary);
  }
  return false;
}

bool LogParser::parse_untimed(std::string_view line, LogEvent* e) {
  Scan c(line);
  int64_t* n = e->n;
  auto is = [e](LineKind kind) {
    e->kind = kind;
    return true;
  };
  if (c.lit("Date: ")) {
    if (!time_text_.parse(c.left(), &e->time) || c.left().size() != kTimeTextLength) return false;
    e->has_time = true;
    return is(LineKind::kDaemonStart);
  }
  if (c.lit("BER : ")) {
    // "%f%%": six decimals; strtod on a bounded copy, the line is not terminated.
    char number[24];
    if (!c.until('%', number, sizeof number)) return false;
    char* end = nullptr;
    e->value = std::strtod(number, &end);
    if (end == number || *end != '\0' || !(e->value >= 0) || e->value > 1000) return false;
    return c.lit("%") && c.done() && is(LineKind::kBitErrorRate);
  }
  if (line == "AMBE Error Correction not activated") return is(LineKind::kKnownOther);
  if (c.lit("AMBE ")) {
    return c.num(&n[0]) && c.lit(", Err_A = ") && c.num(&n[1]) && c.lit(" Err_B = ") && c.num(&n[2]) && c.done() &&
           is(LineKind::kUncorrectableFrame);
  }
  if (c.lit("Ferr: ") || c.lit("F_err: ")) {
    return c.num(&n[0]) && c.lit(" ") && c.num(&n[1]) && c.done() && is(LineKind::kSequenceGap);
  }
  if (c.lit("O_err: ")) return c.num(&n[0]) && c.lit(" ") && c.num(&n[1]) && c.done() && is(LineKind::kOutOfOrder);
  if (c.lit("Doubling DMR-IDs: ")) {
    return c.num(&n[0]) && c.lit(" ") && c.num(&n[1]) && c.lit(" in ") && c.num(&n[2]) && c.lit("/-1") && c.done() &&
           is(LineKind::kDoubledId);
  }
  if (c.lit("Local_Repeater_rdac")) {
    if (c.done()) return is(LineKind::kRdacReceived);
    return c.lit(" ") && c.num(&n[0]) && c.done() && is(LineKind::kRdacStep);
  }
  if (!line.empty() && line[0] == '[' && position(line, e)) return true;
  if (c.lit("Master peer list reply")) return c.done() && is(LineKind::kPeerListReply);
  if (c.lit("SRC-ID:")) return c.num(&n[0]) && c.done() && is(LineKind::kPeerListSource);
  if (c.lit("PEER")) {
    if (!c.num(&n[0])) return false;
    if (c.lit("-ID:")) return c.num(&n[1]) && c.done() && is(LineKind::kPeerEntryId);
    if (c.lit("-IP = ")) return c.rest(e->text[0], 16) && dotted(e->text[0]) && is(LineKind::kPeerEntryAddress);
    if (c.lit("-Port = ")) return c.num(&n[1]) && c.done() && is(LineKind::kPeerEntryPort);
    return false;
  }
  if (c.lit("TOO MANY PEERS IN NETWORK! ("))
    return c.num(&n[0]) && c.lit(")") && c.done() && is(LineKind::kTooManyPeers);
  if (c.lit("Login PEER-ID:")) {
    return c.num(&n[0]) && c.lit(" from IP:") && c.rest(e->text[0], 16) && dotted(e->text[0]) &&
           is(LineKind::kPeerRegistration);
  }
  if (c.lit("Send 99 PEER-ID:")) {
    return c.num(&n[0]) && c.lit(" IP:") && c.rest(e->text[0], 16) && dotted(e->text[0]) &&
           is(LineKind::kPeerKeepAlive);
  }
  if (line == "Master keep alive request from master") return is(LineKind::kMasterKeepAlive);
  if (line == "Initialize Golay-23-12 table") return is(LineKind::kGolayTable);
  if (c.lit("Can not read Configfile ")) return is(LineKind::kConfigUnreadable);
  if (c.lit("Configuration file invalid... (")) {
    return c.num(&n[0]) && c.lit(")") && c.done() && is(LineKind::kConfigInvalid);
  }
  if (c.lit("VEXAQuorvix ")) {
    return c.until(' ', e->text[0], 16) && c.lit(" initialized...entering processing id") && is(LineKind::kInitialized);
  }
  if (config_value(line, e)) return true;
  if (starts(line, "Start ") &&
      (line == "Start Local Repeater Modul  V1.34" || line == "Start Voice to Motorola Pthread" ||
       line == "Start Repeater RDAC  Modul  V1.01" || line == "Start Moto           Modul  V0.01"))
    return is(LineKind::kThreadStart);
  if (starts(line, "Failed to ") || line == "* Local_Repeater_srv_open() failed" ||
      line == "Local_Repeater_audio_srv_open() failed" || line == "Local_Repeater_rdac_srv_open() failed" ||
      line == "Quorvix_srv_open failed")
    return is(LineKind::kSocketError);
  if (line == "Bad Embedded Multi Block LC" || line == "5bit-CRC failed" || line == "No voice - maybe data." ||
      starts(line, " -> Hamming") || starts(line, "Single Data: "))
    return is(LineKind::kEmbeddedLcError);
  if (starts(line, "len master peer ") || starts(line, "Len ") || line == "Program stopped." ||
      starts(line, "Read Configfile ") || line == "AMBE Error Correction not activated" ||
      starts(line, "TIMER SET Please Wait") || starts(line, "[ OK ] Initializing") || starts(line, "[INFO] ") ||
      starts(line, "Vorhandener Arbeitsspeicher: ") || line == "Konnte RAM nicht ermitteln" ||
      starts(line, "RptrCall [") || starts(line, "Error in ") ||
      line.find_first_not_of('_') == std::string_view::npos ||
      (!line.empty() && line[0] == '[' && (line.back() == '%' && contains(line, "] "))))
    return is(LineKind::kKnownOther);
  return false;
}

}  // namespace monitor
