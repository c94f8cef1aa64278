# Install-time part of `cmake --install` (and of the Debian package build):
# writes the systemd unit for the prefix actually installed to, and puts the
# sample configuration in place unless the operator already has one.
# Expects bridge_source_dir, bridge_config_dir, bridge_bindir and
# bridge_docdir from the install(CODE) line in cmake/packaging.cmake.

set(root "$ENV{DESTDIR}")

set(BRIDGE_BINDIR "${CMAKE_INSTALL_PREFIX}/${bridge_bindir}")
set(BRIDGE_DOC_DIR "${CMAKE_INSTALL_PREFIX}/${bridge_docdir}")
set(BRIDGE_CONFIG_DIR "${bridge_config_dir}")
set(unit "${root}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/moto-bridge.service")
message(STATUS "Installing: ${unit}")
configure_file("${bridge_source_dir}/packaging/moto-bridge.service.in" "${unit}" @ONLY)

# An edited configuration holds the operator's repeater, peer ID and key:
# never overwrite it.
set(config "${root}${bridge_config_dir}/vexaqv.cfg")
if(EXISTS "${config}")
  message(STATUS "Keeping: ${config}")
else()
  # file(INSTALL) puts DESTDIR in front by itself, and reports the file.
  file(INSTALL "${bridge_source_dir}/config/vexaqv.cfg.example"
       DESTINATION "${bridge_config_dir}" RENAME vexaqv.cfg
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

# Installed straight onto this machine as root: create the service account
# now and let only it (and root) read the key. A package does this in its
# postinst instead, and a staged install (DESTDIR) leaves it to the target.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(root STREQUAL "" AND uid STREQUAL "0")
  find_program(sysusers systemd-sysusers)
  if(sysusers)
    execute_process(COMMAND ${sysusers}
      "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d/moto-bridge.conf")
    execute_process(COMMAND chown root:moto-bridge "${config}")
    file(CHMOD "${config}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
  endif()
  message(STATUS "Start the service with: systemctl daemon-reload && systemctl enable --now moto-bridge")
endif()
