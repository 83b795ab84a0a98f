# The Windows executables, cross-built with mingw-w64 where it is installed,
# checked with objdump, and run under wine through the end-to-end table.
include(ExternalProject)

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
    set(WINDOWS_EXE_${arch} ${dir}/tagsplit.exe)
    # What the wine tests learnt about this machine is learnt again after each configure.
    file(REMOVE ${WINDOWS_EXE_${arch}}.wine-probe)
  endif()
endforeach()

find_program(WINE_PROGRAM wine)
find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine /usr/lib64/wine)
if(WINE_PROGRAM)
  set(WINE ${WINE_PROGRAM})
endif()
if(WINE64_PROGRAM)
  set(WINE64 ${WINE64_PROGRAM})
  # One wine prefix for all the tests, made before any of them runs.
  add_test(NAME WinePrefixSetup
    COMMAND ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
            ${WINE64} wineboot --init)
  set_tests_properties(WinePrefixSetup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endif()

find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump)
if(MINGW_i686 AND MINGW_OBJDUMP)
  add_test(NAME WindowsExe.IsPe32ForI386ImportingKernel32Alone
    COMMAND ${CMAKE_COMMAND} -DEXE=${WINDOWS_EXE_i686} -DOBJDUMP=${MINGW_OBJDUMP}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_pe_imports.cmake)
else()
  add_skipped_test(WindowsExe.IsPe32ForI386ImportingKernel32Alone "mingw-w64 for i686 is not installed")
endif()
