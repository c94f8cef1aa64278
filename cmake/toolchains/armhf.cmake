# 32-bit ARM Linux (Debian armhf: ARMv7, hard-float), built with Debian's
# cross compiler against the armhf sysroot (cmake/toolchains/debian_sysroot.cmake).
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(BRIDGE_CROSS_TRIPLET arm-linux-gnueabihf)
set(BRIDGE_CROSS_QEMU qemu-arm)
set(BRIDGE_DEB_ARCH armhf CACHE STRING "Debian architecture of the packages")
# GCC notes on 32-bit ARM that the passing of some types changed in GCC 7.1;
# every object here is built by one compiler, so that cannot bite.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/debian_sysroot.cmake)
