# libFuzzer targets, each run by ctest for a short fixed time under
# AddressSanitizer + UndefinedBehaviorSanitizer. New inputs go to a scratch
# corpus in the build tree; the seeds in fuzz/corpus/ are only read.
set(ZDB_FUZZ_SECONDS 20 CACHE STRING "seconds each fuzzer runs in the test command")
set(ZDB_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)

add_library(bridge_fuzz STATIC ${ZDB_PRODUCT_SOURCES} ${ZDB_STANDIN_SOURCES} ${ZDB_HOST_SDK_SOURCES})
target_include_directories(bridge_fuzz PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
target_compile_options(bridge_fuzz PUBLIC ${ZDB_NATIVE_FLAGS} ${ZDB_FUZZ_FLAGS})
target_link_libraries(bridge_fuzz PUBLIC Threads::Threads)

function(zdb_fuzzer name)
  add_executable(${name}_fuzz ${PROJECT_SOURCE_DIR}/fuzz/${name}_fuzz.cpp ${ARGN})
  target_link_libraries(${name}_fuzz PRIVATE bridge_fuzz)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  set(scratch ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
            sh -c "mkdir -p '${scratch}' && exec \"$0\" -max_total_time=${ZDB_FUZZ_SECONDS} -print_final_stats=1 '${scratch}' '${PROJECT_SOURCE_DIR}/fuzz/corpus/${name}'"
            $<TARGET_FILE:${name}_fuzz>)
endfunction()

file(GLOB ZDB_FUZZ_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(source IN LISTS ZDB_FUZZ_TARGETS)
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${stem})
  zdb_fuzzer(${name})
endforeach()
