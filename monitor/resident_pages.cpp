#include "resident_pages.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace monitor {

namespace {

constexpr const char* kUnusedLibraries[] = {"/libcrypto.so", "/libssl.so", "/libbrotlienc.so", "/libbrotlidec.so",
                                            "/libbrotlicommon.so", "/libz.so"};

struct Mapping {
  unsigned long start = 0, end = 0;
  bool candidate = false;
  bool dirty = false;
  size_t resident_kb = 0;
};

size_t release(const Mapping& m) {
  if (!m.candidate || m.dirty || m.resident_kb == 0) return 0;
  if (madvise(reinterpret_cast<void*>(m.start), m.end - m.start, MADV_DONTNEED) != 0) return 0;
  return m.resident_kb;
}

}  // namespace

size_t release_unused_library_pages() {
  FILE* smaps = std::fopen("/proc/self/smaps", "r");
  if (!smaps) return 0;
  size_t released = 0;
  Mapping m;
  char line[512];
  while (std::fgets(line, sizeof line, smaps)) {
    unsigned long start = 0, end = 0;
    char perms[8] = {0};
    int path_at = 0;
    if (std::sscanf(line, "%lx-%lx %7s %*s %*s %*s %n", &start, &end, perms, &path_at) == 3 && path_at > 0) {
      released += release(m);
      m = Mapping();
      m.start = start;
      m.end = end;
      // Private and not writable: text and read-only data. The relocated
      // read-only data is dirty and is left alone below.
      bool named = false;
      for (const char* name : kUnusedLibraries) named |= std::strstr(line + path_at, name) != nullptr;
      m.candidate = named && perms[1] == '-' && perms[3] == 'p';
      continue;
    }
    unsigned long kb = 0;
    if (std::sscanf(line, "Rss: %lu kB", &kb) == 1) m.resident_kb = kb;
    if ((std::sscanf(line, "Private_Dirty: %lu kB", &kb) == 1 || std::sscanf(line, "Anonymous: %lu kB", &kb) == 1) &&
        kb > 0)
      m.dirty = true;
  }
  released += release(m);
  std::fclose(smaps);
  return released;
}

}  // namespace monitor
