# Every relative link of the tracked Markdown files, checked against the
# source tree (git lists the files).
find_program(ZDB_DEBIAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME docs_links
  COMMAND ${ZDB_DEBIAN_PYTHON} -m unittest -v test_links
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/docs)

# Each number of docs/numbers.md worked out of its line of code, and found
# in the documents that state it.
add_test(NAME docs_numbers
  COMMAND ${ZDB_DEBIAN_PYTHON} -m unittest -v test_numbers
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/docs)
