# Benchmarks: programs that print figures, never tests. Built with the rest
# so they cannot rot; run by scripts/bench.sh.
add_library(bridge_bench STATIC ${ZDB_PRODUCT_SOURCES} ${ZDB_STANDIN_SOURCES} ${ZDB_HOST_SDK_SOURCES})
target_include_directories(bridge_bench PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
target_compile_options(bridge_bench PUBLIC -O2 -g ${ZDB_WARNINGS})
target_link_libraries(bridge_bench PUBLIC Threads::Threads)

add_executable(native_bench ${PROJECT_SOURCE_DIR}/bench/native_bench.cpp
                            ${PROJECT_SOURCE_DIR}/tests/alloc/alloc_hook.cpp)
target_link_libraries(native_bench PRIVATE bridge_bench)
