# Under TAGSPLIT_SANITIZE with clang: the fuzz target and a bounded run of it,
# seeded with scenarios from the unit tests. In a plain build: those and the
# property again, built with clang under ASan and UBSan in a tree of their own.
if(TAGSPLIT_SANITIZE)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_tagsplit fuzz_tagsplit.cpp property.cpp fake_platform.cpp)
    target_link_libraries(fuzz_tagsplit PRIVATE tagsplit_core)
    target_link_options(fuzz_tagsplit PRIVATE -fsanitize=fuzzer)
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    add_test(NAME Fuzz.BoundedRun COMMAND sh -c "'$<TARGET_FILE:unit_tests>' --seeds '${corpus}' && \
      exec '$<TARGET_FILE:fuzz_tagsplit>' -runs=60000 -max_total_time=25 -seed=1 '${corpus}'")
  endif()
  return()
endif()

find_program(CLANGXX clang++)
if(NOT CLANGXX)
  add_test(NAME Sanitized.PropertyAndFuzz COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: clang++ is not installed")
  set_tests_properties(Sanitized.PropertyAndFuzz PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED")
  return()
endif()
include(ExternalProject)
set(dir ${CMAKE_BINARY_DIR}/sanitized)
ExternalProject_Add(tagsplit_sanitized SOURCE_DIR ${PROJECT_SOURCE_DIR} BINARY_DIR ${dir}
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=${CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAGSPLIT_SANITIZE=ON
  INSTALL_COMMAND "" BUILD_ALWAYS ON)
add_test(NAME Sanitized.PropertyAndFuzz COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${dir} --output-on-failure)
