# Cross build of the program for 64-bit Arm Linux (g++-aarch64-linux-gnu).
set(LINUX_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
