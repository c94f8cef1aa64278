# Installation and Debian packages.
#
# `cmake --install` puts in place the daemon, the simulated peers (when they
# are part of this build), the systemd unit, the service account definition,
# the sample configuration as <config dir>/vexaqv.cfg (kept if present) and
# the operator's guide. `cpack -G DEB` in a build tree makes the package for
# that tree's architecture (amd64 natively, armhf/arm64 with the toolchains
# in cmake/toolchains/). Configure with -DCMAKE_INSTALL_PREFIX=/usr for a
# package.
include(GNUInstallDirs)

set(BRIDGE_CONFIG_DIR /etc/moto-bridge CACHE PATH
    "Working directory of the service; holds vexaqv.cfg")
set(bridge_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/moto-bridge)

install(TARGETS moto_bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(peer moto_bridge_sim_repeater moto_bridge_sim_master)
  if(TARGET ${peer})
    install(TARGETS ${peer} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  else()
    message(STATUS "Packaging: ${peer} is not part of this build and is not installed")
  endif()
endforeach()

# The dashboard (cmake/monitor.cmake), with a unit of its own written at
# install time like the bridge's.
if(TARGET moto_bridge_monitor)
  install(TARGETS moto_bridge_monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/monitor.md ${PROJECT_SOURCE_DIR}/docs/monitor-screenshot.png
          DESTINATION ${bridge_docdir} OPTIONAL)
  install(CODE "
    set(BRIDGE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(BRIDGE_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${bridge_docdir}\")
    set(monitor_unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/moto-bridge-monitor.service\")
    message(STATUS \"Installing: \${monitor_unit}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/moto-bridge-monitor.service.in\" \"\${monitor_unit}\" @ONLY)
  ")
else()
  message(STATUS "Packaging: moto_bridge_monitor is not part of this build and is not installed")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/moto-bridge.sysusers
        DESTINATION lib/sysusers.d RENAME moto-bridge.conf)
install(FILES ${PROJECT_SOURCE_DIR}/config/vexaqv.cfg.example
        DESTINATION ${bridge_docdir})
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/operator-guide.md)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/operator-guide.md DESTINATION ${bridge_docdir})
endif()
# The unit and the configuration depend on the prefix and on what is already
# installed, so they are written at install time.
install(CODE "
  set(bridge_source_dir \"${PROJECT_SOURCE_DIR}\")
  set(bridge_config_dir \"${BRIDGE_CONFIG_DIR}\")
  set(bridge_bindir \"${CMAKE_INSTALL_BINDIR}\")
  set(bridge_docdir \"${bridge_docdir}\")
  include(\"${PROJECT_SOURCE_DIR}/packaging/install-service.cmake\")
")

# Debian package
if(NOT BRIDGE_DEB_ARCH)
  # Set by the cross toolchain files; natively it is this machine's.
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE BRIDGE_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(debian_dir ${PROJECT_BINARY_DIR}/packaging/debian)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/postinst.in ${debian_dir}/postinst @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/conffiles.in ${debian_dir}/conffiles @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${debian_dir}/prerm COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${debian_dir}/postrm COPYONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME moto-bridge)
set(CPACK_PACKAGE_VERSION 1.00)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${BRIDGE_DEB_ARCH})
set(CPACK_PACKAGE_CONTACT "moto_bridge maintainers <moto-bridge@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Motorola IPSC to Hytera DMR gateway daemon")
set(CPACK_PACKAGE_DESCRIPTION
    "moto_bridge joins one Motorola DMR repeater (as an IPSC peer) to a network
master speaking the Hytera repeater protocol. The package runs it as the
systemd service moto-bridge under its own unprivileged account, with the
configuration in ${BRIDGE_CONFIG_DIR}/vexaqv.cfg, and ships the simulated
repeater and network master for trying it out.")
if(TARGET moto_bridge_monitor)
  string(APPEND CPACK_PACKAGE_DESCRIPTION " moto_bridge_monitor (service
moto-bridge-monitor, not enabled by default) shows the bridge's links, calls,
last-heard list and position reports from its log as a web page, JSON and
Prometheus metrics on 127.0.0.1:8073.")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS systemd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${debian_dir}/postinst ${debian_dir}/prerm ${debian_dir}/postrm ${debian_dir}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The configuration lives under /etc whatever the prefix; installing through
# DESTDIR keeps that absolute path inside the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
if(CMAKE_CROSSCOMPILING)
  # Cross trees build only what is installed and the unit tests; packaging
  # them must not build the rest.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  # The target's libraries are in the sysroot, which this machine's dpkg
  # knows nothing of: dpkg-shlibdeps finds them there, and the dependency
  # information of their packages in the sysroot's DEBIAN/symbols and
  # DEBIAN/shlibs (tools/sysroot.sh).
  if(CMAKE_SYSROOT)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
        ${CMAKE_SYSROOT}/lib/${CMAKE_LIBRARY_ARCHITECTURE} ${CMAKE_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  endif()
endif()
include(CPack)
