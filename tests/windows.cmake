# The Windows executables, cross-built with mingw-w64 where it is installed,
# checked with objdump, and run under wine through the end-to-end table.
include(ExternalProject)

set(WINDOWS_EXE_32 "")
set(WINDOWS_EXE_64 "")
foreach(arch i686 x86_64)
  find_program(MINGW_${arch} ${arch}-w64-mingw32-g++)
  if(MINGW_${arch})
    set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
    ExternalProject_Add(tagsplit_windows_${arch}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${dir}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${arch}-w64-mingw32.cmake
                 -DBUILD_TESTING=OFF
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON)
    add_dependencies(end_to_end_tests tagsplit_windows_${arch})
  endif()
endforeach()
if(MINGW_i686)
  set(WINDOWS_EXE_32 ${CMAKE_BINARY_DIR}/windows-i686/tagsplit.exe)
endif()
if(MINGW_x86_64)
  set(WINDOWS_EXE_64 ${CMAKE_BINARY_DIR}/windows-x86_64/tagsplit.exe)
endif()

find_program(WINE_PROGRAM wine)
find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine /usr/lib64/wine)
if(WINE_PROGRAM)
  set(WINE ${WINE_PROGRAM})
endif()
if(WINE64_PROGRAM)
  set(WINE64 ${WINE64_PROGRAM})
endif()

find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump)
if(MINGW_i686 AND MINGW_OBJDUMP)
  add_test(NAME WindowsExe.IsPe32ForI386ImportingKernel32Alone
    COMMAND ${CMAKE_COMMAND} -DEXE=${WINDOWS_EXE_32} -DOBJDUMP=${MINGW_OBJDUMP}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_pe_imports.cmake)
else()
  add_test(NAME WindowsExe.IsPe32ForI386ImportingKernel32Alone
    COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: mingw-w64 for i686 is not installed")
  set_tests_properties(WindowsExe.IsPe32ForI386ImportingKernel32Alone
    PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED")
endif()

# One wine prefix for all the tests, made before any of them runs.
if(WINE64)
  add_test(NAME WinePrefixSetup
    COMMAND ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
            ${WINE64} wineboot --init)
  set_tests_properties(WinePrefixSetup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endif()

# What the wine tests learnt about this machine is learnt again after each configure.
foreach(exe ${WINDOWS_EXE_32} ${WINDOWS_EXE_64})
  file(REMOVE ${exe}.wine-probe)
endforeach()
