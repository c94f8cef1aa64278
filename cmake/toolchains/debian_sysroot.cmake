# Shared part of the ARM toolchain files: Debian's cross compiler for
# BRIDGE_CROSS_TRIPLET, with the target's headers and libraries taken only
# from a sysroot of that architecture (build/sysroot/<arch>, made by
# tools/cross.sh with mmdebstrap; another one with -DCMAKE_SYSROOT=DIR).
# The cross compiler brings its own C++ runtime to link against; at run time
# the programs load the sysroot's (the same GCC release), as on the board.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${BRIDGE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BRIDGE_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${BRIDGE_CROSS_TRIPLET})
if(NOT CMAKE_SYSROOT)
  get_filename_component(CMAKE_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../../build/sysroot/${BRIDGE_DEB_ARCH}" ABSOLUTE)
endif()
if(NOT EXISTS "${CMAKE_SYSROOT}/usr/include")
  message(FATAL_ERROR "No ${BRIDGE_DEB_ARCH} sysroot in ${CMAKE_SYSROOT}: tools/cross.sh ${BRIDGE_DEB_ARCH} makes it")
endif()

# Build tools are the build machine's; libraries, headers and CMake package
# files only the sysroot's, so nothing of the build machine's own libcrypto
# or GoogleTest can be picked up.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/${BRIDGE_CROSS_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")

# Test programs (and the test-list discovery at build time) run under
# qemu-user, which loads the dynamic loader and every library from the
# sysroot (-L).
find_program(BRIDGE_QEMU ${BRIDGE_CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIDGE_QEMU} -L ${CMAKE_SYSROOT})
