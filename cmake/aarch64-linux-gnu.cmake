# Cross-building the Linux programs for 64-bit ARM (a Raspberry Pi with a
# 64-bit system) on Debian with crossbuild-essential-arm64; the arm64 SDL2
# development files come through multiarch (libsdl2-dev:arm64). The tests run
# under qemu-user, which finds the arm64 C and C++ libraries where multiarch
# put them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "")
find_program(LOGGER_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(LOGGER_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LOGGER_QEMU_AARCH64})
endif()
