# The product's sources, shared by both builds.
set(ZDB_PRODUCT_SOURCES
  src/text/text.cpp
  src/diag/timestamp.cpp
  src/diag/log_file.cpp
  src/diag/event_line.cpp
  src/shell/exports.cpp
  src/shell/bridge_plugin.cpp
  src/shell/sibling_path.cpp
  src/shell/settings.cpp
  src/shell/endpoint.cpp
  src/capture/event_queue.cpp
  src/capture/stand_message.cpp
  src/capture/capture_handler.cpp
  src/delivery/json_writer.cpp
  src/delivery/delivery_worker.cpp
)
list(TRANSFORM ZDB_PRODUCT_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")

# The client's interface as the test client implements it (both builds),
# and the self-test's request reader, which the native tests feed bytes.
set(ZDB_HOST_SDK_SOURCES ${PROJECT_SOURCE_DIR}/host/sdk_impl.cpp
  ${PROJECT_SOURCE_DIR}/host/selftest/request.cpp)

# The test client's scenario runner and self-test (Windows builds only).
set(ZDB_HOST_RUNNER_SOURCES
  host/runner_main.cpp host/runner_support.cpp host/steps_lifecycle.cpp host/steps_client.cpp
  host/steps_burst.cpp host/scenario.cpp host/console.cpp host/check.cpp host/check_limits.cpp
  host/command_line.cpp host/handler_slot.cpp
  host/timing.cpp
  host/selftest/main.cpp host/selftest/support.cpp host/selftest/lifecycle.cpp
  host/selftest/delivery.cpp host/selftest/receiver.cpp host/selftest/request.cpp
  host/selftest/folder.cpp host/selftest/report.cpp host/selftest/guard.cpp
  host/selftest/copies.cpp host/selftest/retries.cpp host/selftest/queue.cpp
  host/selftest/texts.cpp host/selftest/settings.cpp
  host/selftest/reload.cpp host/selftest/routes.cpp host/selftest/plan.cpp
  src/text/text.cpp src/shell/settings.cpp src/shell/endpoint.cpp src/capture/stand_message.cpp
  src/delivery/json_writer.cpp
  src/platform/runtime.cpp)
list(TRANSFORM ZDB_HOST_RUNNER_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")

set(ZDB_WARNINGS -Wall -Wextra -Werror)

# The product's compile flags; the native build's declaration test compiles
# our Windows header with them too.
set(ZDB_FREESTANDING_FLAGS
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fms-extensions
  -fno-stack-protector -O2 ${ZDB_WARNINGS})
