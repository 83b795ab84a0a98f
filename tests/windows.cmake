# The Windows executables, cross-built with mingw-w64 where it is installed,
# and the end-to-end rows that mean the same on Windows run under wine. The
# 32-bit exe is also checked to be PE32 for i386 importing KERNEL32.dll alone.
include(ExternalProject)
# Where wine is missing, the rows skip when the loader fails to start.
find_program(WINE_i686 NAMES wine NO_CACHE)
find_program(WINE_x86_64 NAMES wine64 PATHS /usr/lib/wine NO_CACHE)
find_program(OBJDUMP_i686 i686-w64-mingw32-objdump)
set(prefix ${CMAKE_BINARY_DIR}/wineprefix)
if(WINE_x86_64)
  add_test(NAME Wine.Prefix COMMAND env WINEDEBUG=-all WINEPREFIX=${prefix} ${WINE_x86_64} wineboot --init)
  set_tests_properties(Wine.Prefix PROPERTIES FIXTURES_SETUP wine_prefix)
endif()

foreach(arch i686 x86_64)
  find_program(MINGW_${arch} ${arch}-w64-mingw32-g++)
  set(test EndToEnd.Windows_${arch})
  if(NOT MINGW_${arch})
    add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: mingw-w64 for ${arch} is not installed")
    set_tests_properties(${test} PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED")
    continue()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
  ExternalProject_Add(tagsplit_windows_${arch} SOURCE_DIR ${PROJECT_SOURCE_DIR} BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${arch}-w64-mingw32.cmake -DBUILD_TESTING=OFF
    INSTALL_COMMAND "" BUILD_ALWAYS ON)
  set(pe_check "")
  if(arch STREQUAL i686 AND OBJDUMP_i686)
    set(pe_check ${OBJDUMP_i686})
  endif()
  add_test(NAME ${test} COMMAND ${END_TO_END} --wine ${WINE_${arch}} ${prefix} ${dir}/tagsplit.exe ${pe_check})
  set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77 FIXTURES_REQUIRED wine_prefix)
endforeach()
