#pragma once
// Debian builds cpp-httplib with TLS and compression, so loading it loads
// and initialises OpenSSL, brotli and zlib; the monitor serves plain HTTP
// uncompressed and never calls them again. Their read-only pages touched at
// start-up would still count as resident (about 3 MiB of the 8 MiB budget):
// they are handed back to the page cache here. Only clean, never-written
// mappings are released, so nothing is lost: a page still needed is simply
// read in again.
#include <cstddef>

namespace monitor {

// Kibibytes of address range handed back (resident or not).
size_t release_unused_library_pages();

}  // namespace monitor
