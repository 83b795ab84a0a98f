# The program for x86_64 Linux with Debian's compiler of that name: the native one on an x86_64
# machine, a cross compiler elsewhere, so that a release is the same whatever builds it.
set(LINUX_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
