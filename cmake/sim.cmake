# Simulated Motorola repeater and network master, the intruder (a third
# host sending the daemon datagrams it must not act on), and the run report
# that reads what they recorded. The simulators share no code with the
# daemon: they decode what it sends with their own coders.
find_package(OpenSSL QUIET)
if(NOT OPENSSL_FOUND)
  message(STATUS "OpenSSL (libssl-dev) not found: simulated peers not built")
  return()
endif()

set(SIM_DIR ${PROJECT_SOURCE_DIR}/sim)
# Each program is every source in its folder; what they share is in common/.
file(GLOB SIM_COMMON_SOURCES CONFIGURE_DEPENDS ${SIM_DIR}/common/*.cpp)
add_library(sim_common STATIC ${SIM_COMMON_SOURCES} ${SIM_DIR}/report/run_report.cpp)
target_include_directories(sim_common PUBLIC ${SIM_DIR})
target_link_libraries(sim_common PUBLIC OpenSSL::Crypto)

foreach(peer repeater master intruder)
  file(GLOB peer_sources CONFIGURE_DEPENDS ${SIM_DIR}/${peer}/*.cpp)
  add_executable(moto_bridge_sim_${peer} ${peer_sources})
  target_link_libraries(moto_bridge_sim_${peer} PRIVATE sim_common)
endforeach()

add_executable(moto_bridge_sim_report ${SIM_DIR}/report/main.cpp)
target_link_libraries(moto_bridge_sim_report PRIVATE sim_common)

# The end-to-end tests drive the simulators and read their records.
file(GLOB SIM_E2E_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/sim_e2e_*_test.cpp)
foreach(test_source ${SIM_E2E_SOURCES})
  get_filename_component(test_name ${test_source} NAME_WE)
  if(TARGET ${test_name})
    target_link_libraries(${test_name} PRIVATE sim_common)
    add_dependencies(${test_name} moto_bridge moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_sim_intruder)
    target_compile_definitions(${test_name} PRIVATE
      SIM_REPEATER_BINARY="$<TARGET_FILE:moto_bridge_sim_repeater>"
      SIM_MASTER_BINARY="$<TARGET_FILE:moto_bridge_sim_master>"
      SIM_INTRUDER_BINARY="$<TARGET_FILE:moto_bridge_sim_intruder>"
      SIM_NETNS_SCRIPT="${PROJECT_SOURCE_DIR}/tools/netns.sh")
  endif()
endforeach()
