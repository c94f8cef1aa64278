# 32-bit ARM Linux (Debian armhf: ARMv7, hard-float), built with Debian's
# cross compiler. Target libraries (OpenSSL, GoogleTest) come from Debian
# multiarch packages such as libssl-dev:armhf, which live in
# /usr/lib/arm-linux-gnueabihf beside the build machine's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(BRIDGE_DEB_ARCH armhf CACHE STRING "Debian architecture of the packages")
# GCC notes on 32-bit ARM that the passing of some types changed in GCC 7.1;
# every object here is built by one compiler, so that cannot bite.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# Test programs (and the test-list discovery at build time) run under
# qemu-user, which takes the C++ runtime from the cross toolchain (-L) and
# the rest from the multiarch libraries.
find_program(BRIDGE_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIDGE_QEMU_ARM} -L /usr/arm-linux-gnueabihf)

# Build tools are the build machine's; libraries and headers the target's.
# pkg-config must describe the target's libraries, or FindOpenSSL would pick
# up the build machine's libcrypto.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
