# Cross build for Linux with Debian's cross compiler for the processor in LINUX_ARCH; included
# by the toolchain file of each target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${LINUX_ARCH})
set(CMAKE_C_COMPILER ${LINUX_ARCH}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${LINUX_ARCH}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${LINUX_ARCH}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
