# The native build: the product's sources against standin/ (our POSIX
# implementation of the Windows subset), compiled once per sanitizer
# variant, with unit tests, fuzzers, benchmarks and the Wine end-to-end
# tests that drive the product build, and the check of our Windows
# declarations against an independent SDK.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

file(GLOB ZDB_STANDIN_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/standin/*.cpp)

file(GLOB ZDB_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp)

set(ZDB_NATIVE_FLAGS -O1 -g -fno-omit-frame-pointer ${ZDB_WARNINGS})
set(ZDB_ASAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
set(ZDB_TSAN_FLAGS -fsanitize=thread)

# One library and one unit-test program per sanitizer variant.
function(zdb_native_variant name)
  set(sanitize ${ARGN})
  add_library(bridge_${name} STATIC
    ${ZDB_PRODUCT_SOURCES} ${ZDB_STANDIN_SOURCES} ${ZDB_HOST_SDK_SOURCES})
  target_include_directories(bridge_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_compile_options(bridge_${name} PUBLIC ${ZDB_NATIVE_FLAGS} ${sanitize})
  target_link_options(bridge_${name} PUBLIC ${sanitize})
  target_link_libraries(bridge_${name} PUBLIC Threads::Threads)

  add_executable(unit_tests_${name} ${ZDB_UNIT_TEST_SOURCES})
  target_link_libraries(unit_tests_${name} PRIVATE bridge_${name} GTest::gtest GTest::gtest_main)
  add_test(NAME unit_${name} COMMAND unit_tests_${name} --gtest_brief=1)
endfunction()

zdb_native_variant(plain)
zdb_native_variant(asan ${ZDB_ASAN_FLAGS})
zdb_native_variant(tsan ${ZDB_TSAN_FLAGS})
set_tests_properties(unit_asan PROPERTIES
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")
set_tests_properties(unit_tsan PROPERTIES ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1")

# Heap allocations counted by replacing malloc: only without sanitizers.
add_executable(alloc_tests ${PROJECT_SOURCE_DIR}/tests/alloc/capture_alloc_test.cpp
                           ${PROJECT_SOURCE_DIR}/tests/alloc/alloc_hook.cpp
                           ${PROJECT_SOURCE_DIR}/tests/unit/test_support.cpp)
target_link_libraries(alloc_tests PRIVATE bridge_plain GTest::gtest GTest::gtest_main)
add_test(NAME unit_alloc COMMAND alloc_tests --gtest_brief=1)

include(${PROJECT_SOURCE_DIR}/fuzz/fuzz.cmake OPTIONAL)
include(${PROJECT_SOURCE_DIR}/tests/declarations/declarations.cmake)
include(${PROJECT_SOURCE_DIR}/tests/vtables/vtables.cmake)
include(${PROJECT_SOURCE_DIR}/tests/msvc/msvc.cmake)
include(${PROJECT_SOURCE_DIR}/tests/release/release.cmake)
include(${PROJECT_SOURCE_DIR}/tests/contract/contract.cmake OPTIONAL)
include(${PROJECT_SOURCE_DIR}/tests/docs/docs.cmake)
include(${PROJECT_SOURCE_DIR}/tests/e2e/e2e.cmake OPTIONAL)
include(${PROJECT_SOURCE_DIR}/bench/bench.cmake OPTIONAL)
