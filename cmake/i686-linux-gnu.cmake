# Cross build of the program for 32-bit x86 Linux (g++-i686-linux-gnu).
set(LINUX_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
