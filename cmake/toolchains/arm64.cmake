# 64-bit ARM Linux (Debian arm64: AArch64), built with Debian's
# cross compiler. Target libraries (OpenSSL, GoogleTest) come from Debian
# multiarch packages such as libssl-dev:arm64, which live in
# /usr/lib/aarch64-linux-gnu beside the build machine's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(BRIDGE_DEB_ARCH arm64 CACHE STRING "Debian architecture of the packages")

# Test programs (and the test-list discovery at build time) run under
# qemu-user, which takes the C++ runtime from the cross toolchain (-L) and
# the rest from the multiarch libraries.
find_program(BRIDGE_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIDGE_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)

# Build tools are the build machine's; libraries and headers the target's.
# pkg-config must describe the target's libraries, or FindOpenSSL would pick
# up the build machine's libcrypto.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
