#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log_inputs.h"

namespace monitor {

bool read_stream(int fd, LogIngest& ingest, std::string* error) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      ingest.feed(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      ingest.finish();
      return true;
    } else if (errno != EINTR) {
      *error = std::string("reading standard input failed: ") + std::strerror(errno);
      ingest.finish();
      return false;
    }
  }
}

}  // namespace monitor
