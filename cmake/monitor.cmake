# moto_bridge_monitor: the dashboard, JSON API and metrics built from the
# daemon's console log. A program of its own beside the daemon; it shares no
# code with it. Built only when cmake/monitor_libraries.cmake found what it
# needs (BRIDGE_WITH_MONITOR); otherwise nothing here is built, not even the
# log reader, whose only users are the program, its tests, its benchmark and
# its fuzz target.
if(NOT BRIDGE_WITH_MONITOR)
  return()
endif()

set(MONITOR_DIR ${PROJECT_SOURCE_DIR}/monitor)
add_library(monitor_log STATIC
  ${MONITOR_DIR}/line_splitter.cpp ${MONITOR_DIR}/log_time_text.cpp ${MONITOR_DIR}/log_parser.cpp
  ${MONITOR_DIR}/position_degrees.cpp ${MONITOR_DIR}/bridge_model.cpp ${MONITOR_DIR}/callsign_table.cpp
  ${MONITOR_DIR}/log_ingest.cpp)
target_include_directories(monitor_log PUBLIC ${MONITOR_DIR})
target_link_libraries(monitor_log PUBLIC Threads::Threads)
if(BRIDGE_FUZZ)
  target_compile_options(monitor_log PRIVATE -fsanitize=fuzzer-no-link)
endif()

add_library(monitor_service STATIC
  ${MONITOR_DIR}/json_views.cpp ${MONITOR_DIR}/dashboard_page.cpp ${MONITOR_DIR}/http_service.cpp
  ${MONITOR_DIR}/stream_input.cpp ${MONITOR_DIR}/journal_input.cpp ${MONITOR_DIR}/options.cpp
  ${MONITOR_DIR}/resident_pages.cpp)
# Debian's cpp-httplib is a compiled library; its pkg-config flags select
# the same (TLS, compression) interface it was built with.
target_link_libraries(monitor_service PUBLIC monitor_log nlohmann_json::nlohmann_json
                      PkgConfig::MONITOR_HTTPLIB PkgConfig::MONITOR_SYSTEMD)

add_executable(moto_bridge_monitor ${MONITOR_DIR}/main.cpp)
target_link_libraries(moto_bridge_monitor PRIVATE monitor_service)

# Unit tests (tests/monitor_*_test.cpp) and the browser and end-to-end test.
file(GLOB MONITOR_TEST_SOURCES CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/tests/monitor_*_test.cpp ${PROJECT_SOURCE_DIR}/tests/sim_e2e_monitor_test.cpp)
foreach(test_source ${MONITOR_TEST_SOURCES})
  get_filename_component(test_name ${test_source} NAME_WE)
  if(TARGET ${test_name})
    target_link_libraries(${test_name} PRIVATE monitor_service)
    add_dependencies(${test_name} moto_bridge_monitor)
    target_compile_definitions(${test_name} PRIVATE
      MONITOR_BINARY="$<TARGET_FILE:moto_bridge_monitor>"
      MONITOR_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data/monitor")
  endif()
endforeach()

# Under qemu-user, Debian's cpp-httplib server never gets to accept a
# connection (a bare server of a few lines hangs the same way), so the
# cross trees' test run leaves the server out; the boards themselves run
# the package's own check of the installed monitor.
if(CMAKE_CROSSCOMPILING AND TARGET monitor_http_test)
  target_compile_definitions(monitor_http_test PRIVATE MONITOR_SERVER_UNTESTABLE="under the cross build's emulator")
endif()

if(TARGET monitor_bench)
  target_link_libraries(monitor_bench PRIVATE monitor_service)
  target_compile_definitions(monitor_bench PRIVATE MONITOR_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data/monitor")
endif()
