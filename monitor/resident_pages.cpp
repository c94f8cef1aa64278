#include "resident_pages.h"

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace monitor {

namespace {

constexpr const char* kUnusedLibraries[] = {"/libcrypto.so",    "/libssl.so",          "/libbrotlienc.so",
                                            "/libbrotlidec.so", "/libbrotlicommon.so", "/libz.so"};

int release_object(dl_phdr_info* info, size_t, void* released_kb) {
  const char* name = info->dlpi_name;
  if (!name) return 0;
  bool unused = false;
  for (const char* library : kUnusedLibraries) unused |= std::strstr(name, library) != nullptr;
  if (!unused) return 0;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    // Loaded and never writable: text and read-only data, exactly as in the
    // file. The relocated read-only data lies in a writable segment and is
    // left alone. Whole pages inside the segment only.
    if (ph.p_type != PT_LOAD || (ph.p_flags & PF_W) != 0) continue;
    const uintptr_t start = (info->dlpi_addr + ph.p_vaddr + page - 1) & ~(page - 1);
    const uintptr_t end = (info->dlpi_addr + ph.p_vaddr + ph.p_memsz) & ~(page - 1);
    if (end <= start) continue;
    if (madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED) == 0)
      *static_cast<size_t*>(released_kb) += (end - start) / 1024;
  }
  return 0;
}

}  // namespace

size_t release_unused_library_pages() {
  size_t released_kb = 0;
  dl_iterate_phdr(release_object, &released_kb);
  return released_kb;
}

}  // namespace monitor
