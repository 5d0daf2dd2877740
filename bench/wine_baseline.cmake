# The capture baseline for wine_bench.py, built with the product toolchain:
# the platform calls capture makes on the client's thread, without the plug-in.
add_library(capture_baseline_objects OBJECT
  bench/capture_baseline.cpp host/command_line.cpp host/console.cpp host/timing.cpp
  src/text/text.cpp src/platform/runtime.cpp)
target_include_directories(capture_baseline_objects PRIVATE src ${PROJECT_SOURCE_DIR})
target_compile_options(capture_baseline_objects PRIVATE ${ZDB_FREESTANDING_FLAGS})
zdb_link(capture_baseline ZeltanDokCaptureBaseline.exe capture_baseline_objects
  /entry:mainCRTStartup /subsystem:console
  ${ZDB_IMPLIB_kernel32} ${ZDB_IMPLIB_kernel32_host} ${ZDB_IMPLIB_winhttp})
