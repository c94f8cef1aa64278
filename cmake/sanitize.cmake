# Sanitizer builds: -DBRIDGE_SANITIZE=address,undefined or =thread.
# Set here, before any target exists, so the library, the daemon, the tests
# and the fuzz targets are all instrumented alike. Every report halts the
# process: a sanitizer finding is a failure, never a warning to scroll past.
set(BRIDGE_SANITIZE "" CACHE STRING
  "Sanitizers to build with: empty, address,undefined or thread")
set_property(CACHE BRIDGE_SANITIZE PROPERTY STRINGS "" "address,undefined" "thread")

if(BRIDGE_SANITIZE STREQUAL "")
  return()
endif()

if(BRIDGE_SANITIZE STREQUAL "address,undefined" OR BRIDGE_SANITIZE STREQUAL "undefined,address")
  set(bridge_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(BRIDGE_SANITIZE STREQUAL "address")
  set(bridge_sanitize_flags -fsanitize=address)
elseif(BRIDGE_SANITIZE STREQUAL "thread")
  set(bridge_sanitize_flags -fsanitize=thread)
else()
  message(FATAL_ERROR "BRIDGE_SANITIZE=${BRIDGE_SANITIZE}: use address,undefined or thread")
endif()

# Frame pointers keep the reported stacks whole; -O1 keeps the runs quick
# without inlining the frames away.
add_compile_options(${bridge_sanitize_flags} -fno-omit-frame-pointer -g -O1)
add_link_options(${bridge_sanitize_flags})
message(STATUS "Sanitizers: ${BRIDGE_SANITIZE}")
