#include "options.h"

#include <charconv>

namespace monitor {

const char* const kUsage =
    "usage: moto_bridge_monitor [--listen HOST:PORT] [--unit NAME | --stdin] [--callsigns FILE]\n"
    "  Reads the bridge's console log and serves a dashboard, a JSON API and metrics.\n"
    "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8073, this machine only)\n"
    "  --unit NAME         follow this unit in the systemd journal (default moto-bridge.service)\n"
    "  --stdin             read the log from standard input instead (a file or a pipe)\n"
    "  --callsigns FILE    CSV of DMR ids and call signs (RADIO_ID and CALLSIGN columns)\n"
    "  --help              this text\n"
    "  Pages: / (dashboard), /api/status, /api/calls, /api/positions, /api/events, /metrics\n";

bool parse_listen(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
  } else if (h.find(':') != std::string::npos) {
    return false;  // a bare IPv6 address needs brackets
  }
  int p = 0;
  const char* begin = text.data() + colon + 1;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(begin, end, p);
  if (ec != std::errc() || stop != end || p < 1 || p > 65535) return false;
  *host = h;
  *port = p;
  return true;
}

bool parse_options(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = a + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "--stdin") {
      o->from_stdin = true;
    } else if (a == "--listen") {
      if (!value(&v)) return false;
      if (!parse_listen(v, &o->host, &o->port)) {
        *error = "--listen wants HOST:PORT (port 1-65535), not \"" + v + "\"";
        return false;
      }
    } else if (a == "--unit") {
      if (!value(&o->unit)) return false;
      if (o->unit.empty()) {
        *error = "--unit needs a unit name";
        return false;
      }
    } else if (a == "--callsigns") {
      if (!value(&o->callsigns)) return false;
    } else {
      *error = "unknown option \"" + a + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace monitor
