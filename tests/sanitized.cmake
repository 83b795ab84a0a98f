# Under TAGSPLIT_SANITIZE with clang: the fuzz target and a bounded run of it.
# In a plain build: the whole suite again, built with clang under ASan and
# UBSan in a build tree of its own, as one test.
if(TAGSPLIT_SANITIZE)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_tagsplit fuzz_tagsplit.cpp ${PROJECT_SOURCE_DIR}/src/platform/platform_fake.cpp)
    target_link_libraries(fuzz_tagsplit PRIVATE tagsplit_core)
    target_link_options(fuzz_tagsplit PRIVATE -fsanitize=fuzzer)
    set(TAGSPLIT_FUZZ_RUNS 200000 CACHE STRING "Executions of the bounded fuzz test")
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    add_test(NAME Fuzz.BoundedRun
      COMMAND sh -c "mkdir -p '${corpus}' && exec '$<TARGET_FILE:fuzz_tagsplit>' -runs=${TAGSPLIT_FUZZ_RUNS} -max_total_time=240 -seed=1 -print_final_stats=1 '${corpus}' '${CMAKE_CURRENT_SOURCE_DIR}/fuzz_seeds'")
    set_tests_properties(Fuzz.BoundedRun PROPERTIES TIMEOUT 300)
  endif()
  return()
endif()

find_program(CLANGXX clang++)
if(CLANGXX)
  include(ExternalProject)
  set(dir ${CMAKE_BINARY_DIR}/sanitized)
  ExternalProject_Add(tagsplit_sanitized
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
               -DTAGSPLIT_SANITIZE=ON -DTAGSPLIT_WINDOWS_TESTS=OFF
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  add_test(NAME Sanitized.EveryTestUnderAsanAndUbsan
    COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${dir} --output-on-failure --no-tests=error -j2)
  set_tests_properties(Sanitized.EveryTestUnderAsanAndUbsan PROPERTIES TIMEOUT 900)
else()
  add_skipped_test(Sanitized.EveryTestUnderAsanAndUbsan "clang++ is not installed")
endif()
