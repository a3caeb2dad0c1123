# Cross-building for 64-bit Arm Linux with Debian's crossbuild-essential-arm64.
# Target libraries (libgtest-dev:arm64) come from Debian's multiarch folders,
# /usr/lib/aarch64-linux-gnu; test programs run under qemu-aarch64 with the
# target's C library from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
