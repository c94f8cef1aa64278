# Simulated Motorola repeater and network master, the run report that reads
# what they recorded, and the idle-polling yardstick. The simulators share
# no code with the daemon: they decode what it sends with their own coders.
find_package(OpenSSL QUIET)
if(NOT OPENSSL_FOUND)
  message(STATUS "OpenSSL (libssl-dev) not found: simulated peers not built")
  return()
endif()

set(SIM_DIR ${PROJECT_SOURCE_DIR}/sim)
add_library(sim_common STATIC
  ${SIM_DIR}/common/ambe_frame.cpp
  ${SIM_DIR}/common/command_script.cpp
  ${SIM_DIR}/common/embedded_signalling.cpp
  ${SIM_DIR}/common/event_log.cpp
  ${SIM_DIR}/common/frame_source.cpp
  ${SIM_DIR}/common/hytera_packet.cpp
  ${SIM_DIR}/common/ipsc_packet.cpp
  ${SIM_DIR}/common/jsonl.cpp
  ${SIM_DIR}/common/peer_runtime.cpp
  ${SIM_DIR}/common/udp_socket.cpp
  ${SIM_DIR}/report/run_report.cpp)
target_include_directories(sim_common PUBLIC ${SIM_DIR})
target_link_libraries(sim_common PUBLIC OpenSSL::Crypto)

add_executable(moto_bridge_sim_repeater
  ${SIM_DIR}/repeater/main.cpp
  ${SIM_DIR}/repeater/call_checker.cpp
  ${SIM_DIR}/repeater/position_report.cpp)
target_link_libraries(moto_bridge_sim_repeater PRIVATE sim_common)

add_executable(moto_bridge_sim_master
  ${SIM_DIR}/master/main.cpp
  ${SIM_DIR}/master/rdac_reader.cpp
  ${SIM_DIR}/master/voice_checker.cpp)
target_link_libraries(moto_bridge_sim_master PRIVATE sim_common)

add_executable(moto_bridge_sim_report ${SIM_DIR}/report/main.cpp)
target_link_libraries(moto_bridge_sim_report PRIVATE sim_common)

add_executable(moto_bridge_idle_baseline ${SIM_DIR}/baseline/idle_poller.cpp)
target_link_libraries(moto_bridge_idle_baseline PRIVATE Threads::Threads)

# The end-to-end tests drive the simulators and read their records.
file(GLOB SIM_E2E_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/sim_e2e_*_test.cpp)
foreach(test_source ${SIM_E2E_SOURCES})
  get_filename_component(test_name ${test_source} NAME_WE)
  if(TARGET ${test_name})
    target_link_libraries(${test_name} PRIVATE sim_common)
    add_dependencies(${test_name} moto_bridge moto_bridge_sim_repeater moto_bridge_sim_master)
    target_compile_definitions(${test_name} PRIVATE
      SIM_REPEATER_BINARY="$<TARGET_FILE:moto_bridge_sim_repeater>"
      SIM_MASTER_BINARY="$<TARGET_FILE:moto_bridge_sim_master>")
  endif()
endforeach()
