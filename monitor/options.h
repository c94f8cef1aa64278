#pragma once
// Command line of moto_bridge_monitor.
#include <string>

namespace monitor {

struct Options {
  std::string host = "127.0.0.1";  // loopback only unless asked otherwise
  int port = 8073;
  std::string unit = "moto-bridge.service";
  bool from_stdin = false;
  std::string callsigns;  // CSV file, optional
  bool help = false;
};

// False (with `error`) on an unknown option or a bad value.
bool parse_options(int argc, char** argv, Options* o, std::string* error);

// "HOST:PORT", "[V6]:PORT"; port 1..65535.
bool parse_listen(const std::string& text, std::string* host, int* port);

extern const char* const kUsage;

}  // namespace monitor
