# Decides whether moto_bridge_monitor (the dashboard) is part of this build:
# BRIDGE_WITH_MONITOR is ON when -DBRIDGE_MONITOR is ON (the default) and
# Debian's libsystemd-dev, libcpp-httplib-dev and nlohmann-json3-dev are
# found. The daemon needs none of them, so without them (or with
# -DBRIDGE_MONITOR=OFF, to build only the daemon where they are installed)
# everything of the monitor is left out together: the program, its unit
# and documents, its tests, its benchmark and its fuzz target.
option(BRIDGE_MONITOR "Build moto_bridge_monitor (the dashboard) when its libraries are found" ON)

set(BRIDGE_WITH_MONITOR OFF)
if(NOT BRIDGE_MONITOR)
  message(STATUS "BRIDGE_MONITOR=OFF: moto_bridge_monitor and its tests, benchmark and fuzz target not built")
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(MONITOR_SYSTEMD QUIET IMPORTED_TARGET libsystemd)
    pkg_check_modules(MONITOR_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
  endif()
  find_package(nlohmann_json 3 QUIET)
  if(MONITOR_SYSTEMD_FOUND AND MONITOR_HTTPLIB_FOUND AND nlohmann_json_FOUND)
    set(BRIDGE_WITH_MONITOR ON)
  else()
    message(STATUS "libsystemd-dev, libcpp-httplib-dev or nlohmann-json3-dev not found: "
                   "moto_bridge_monitor and its tests, benchmark and fuzz target not built")
  endif()
endif()

# The monitor's sources among the globbed tests, benchmarks and fuzz targets
# (tests/monitor_*_test.cpp, tests/sim_e2e_monitor_test.cpp,
# bench/monitor_bench.cpp, fuzz/monitor_log_fuzz.cpp) are dropped from the
# list named SOURCES_VAR when the monitor is not built.
function(bridge_drop_monitor_sources sources_var)
  if(NOT BRIDGE_WITH_MONITOR)
    list(FILTER ${sources_var} EXCLUDE REGEX "/(monitor_[^/]*|sim_e2e_monitor_test)\\.cpp$")
    set(${sources_var} ${${sources_var}} PARENT_SCOPE)
  endif()
endfunction()
