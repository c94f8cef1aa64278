# 64-bit ARM Linux (Debian arm64: AArch64), built with Debian's cross
# compiler against the arm64 sysroot (cmake/toolchains/debian_sysroot.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BRIDGE_CROSS_TRIPLET aarch64-linux-gnu)
set(BRIDGE_CROSS_QEMU qemu-aarch64)
set(BRIDGE_DEB_ARCH arm64 CACHE STRING "Debian architecture of the packages")
include(${CMAKE_CURRENT_LIST_DIR}/debian_sysroot.cmake)
