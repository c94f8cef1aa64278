# libFuzzer targets, one per input the daemon parses: -DBRIDGE_FUZZ=ON with
# clang++. Combine with -DBRIDGE_SANITIZE=address,undefined so that every
# out-of-bounds access or undefined operation a target reaches is a crash.
# tools/fuzz.sh configures build/fuzz this way and runs the targets.
option(BRIDGE_FUZZ "Build the libFuzzer targets and the seed corpus generator (clang only)" OFF)
if(NOT BRIDGE_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "BRIDGE_FUZZ needs clang++ (libFuzzer): CXX=clang++ cmake ...")
endif()
find_package(OpenSSL REQUIRED)

# The library is what the daemon runs; coverage feedback comes from it.
# Everything linking it (the daemon too) then needs the coverage callbacks.
target_compile_options(bridge_core PRIVATE -fsanitize=fuzzer-no-link)
target_link_options(bridge_core INTERFACE -fsanitize=fuzzer-no-link)

add_library(bridge_fuzz_support STATIC ${PROJECT_SOURCE_DIR}/fuzz/fuzz_support.cpp)
target_link_libraries(bridge_fuzz_support PUBLIC bridge_core OpenSSL::Crypto)
target_include_directories(bridge_fuzz_support PUBLIC ${PROJECT_SOURCE_DIR}/fuzz)

file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
bridge_drop_monitor_sources(FUZZ_SOURCES)
foreach(fuzz_source ${FUZZ_SOURCES})
  get_filename_component(fuzz_name ${fuzz_source} NAME_WE)
  add_executable(${fuzz_name} ${fuzz_source})
  target_link_libraries(${fuzz_name} PRIVATE bridge_fuzz_support)
  target_compile_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
endforeach()
# The monitor's log reader is a library of its own (cmake/monitor.cmake).
if(TARGET monitor_log_fuzz)
  target_link_libraries(monitor_log_fuzz PRIVATE monitor_log)
endif()

# Writes the seed corpora under fuzz/corpus from the bridge's own packet
# builders and templates.
add_executable(make_fuzz_corpus ${PROJECT_SOURCE_DIR}/fuzz/make_corpus.cpp)
target_link_libraries(make_fuzz_corpus PRIVATE bridge_fuzz_support)
