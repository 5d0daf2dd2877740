# The one version and the release tag's check.
find_program(ZDB_PYTHON NAMES python3 REQUIRED)
add_test(NAME release_one_version
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/release/test_one_version.py)
