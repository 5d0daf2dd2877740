# The endpoint contract (docs/) against the product's own bodies: a helper
# that prints the body the capture and the JSON writer make from each input
# of the body fuzzer's corpus, and the Python test that checks them, and a
# few broken bodies, with the schema validator.
add_executable(corpus_bodies ${PROJECT_SOURCE_DIR}/tests/contract/corpus_bodies.cpp)
target_link_libraries(corpus_bodies PRIVATE bridge_plain)

# Debian's interpreter, which sees the python3-jsonschema that setup.sh
# installs; another python3 earlier on PATH would not.
find_program(ZDB_DEBIAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME contract_schema
  COMMAND ${CMAKE_COMMAND} -E env ZDB_CORPUS_BODIES=$<TARGET_FILE:corpus_bodies>
          ZDB_BODY_CORPUS=${PROJECT_SOURCE_DIR}/fuzz/corpus/json_body
          ${ZDB_DEBIAN_PYTHON} -m unittest -v test_contract
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/contract)
