# Cross build of a 64-bit Windows console executable from the same sources:
# wine64 runs it on machines that cannot run 32-bit code.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
