# The product DLL end to end under Wine: real kernel32 and WinHTTP, the test
# client, and a real HTTP server on loopback. Each test_*.py module is one
# ctest test; all share one Wine prefix inside the build tree, created
# before them and whose Wine server is ended after them.
if(NOT ZDB_WIN_BUILD_DIR)
  return()
endif()

# Debian's interpreter, which sees the python3-jsonschema that setup.sh
# installs (the receiver checks every body with it); another python3 earlier
# on PATH would not.
find_program(ZDB_DEBIAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(ZDB_E2E_WORK ${CMAKE_BINARY_DIR}/e2e-work)
set(ZDB_E2E_ENV
  ZDB_WIN_BUILD=${ZDB_WIN_BUILD_DIR}
  ZDB_E2E_WORK=${ZDB_E2E_WORK}
  WINEPREFIX=${ZDB_E2E_WORK}/prefix
  WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree,mshtml=)

add_test(NAME e2e_wine_prefix
  COMMAND ${CMAKE_COMMAND} -E env ${ZDB_E2E_ENV}
          sh -c "mkdir -p '${ZDB_E2E_WORK}' && wineboot -i && wineserver -w")
set_tests_properties(e2e_wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

add_test(NAME e2e_wine_server_end
  COMMAND ${CMAKE_COMMAND} -E env ${ZDB_E2E_ENV} sh -c "wineserver -k || true")
set_tests_properties(e2e_wine_server_end PROPERTIES FIXTURES_CLEANUP wine)

# test_https trusts a throw-away certificate authority machine-wide while it
# runs and takes it out again itself; this runs after every e2e run too, so
# that a module killed half-way cannot leave it trusted. Before the Wine
# server ends, as it may have to edit the prefix's registry.
add_test(NAME e2e_trust_store_cleanup
  COMMAND ${CMAKE_COMMAND} -E env ${ZDB_E2E_ENV}
          sh ${PROJECT_SOURCE_DIR}/tests/e2e/trust_cleanup.sh)
set_tests_properties(e2e_trust_store_cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 300)
set_tests_properties(e2e_wine_server_end PROPERTIES DEPENDS e2e_trust_store_cleanup)

file(GLOB ZDB_E2E_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(module IN LISTS ZDB_E2E_MODULES)
  get_filename_component(name ${module} NAME_WE)
  add_test(NAME e2e_${name}
    COMMAND ${CMAKE_COMMAND} -E env ${ZDB_E2E_ENV} ${ZDB_DEBIAN_PYTHON} -m unittest -v ${name}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)
endforeach()
# Both trust a throw-away authority through the same file of the machine's
# trust store, which one's clean-up would take from under the other.
set_tests_properties(e2e_test_https e2e_test_reference_receiver PROPERTIES
  RESOURCE_LOCK machine_trust_store)

# The binaries of Visual Studio's path, as clang-cl builds them here: the
# binary interface, the plug-in's life cycle and delivery, and the
# self-test's passing run with its changed-byte copies. Their benches live
# apart from the Debian build's, so that both may run at once.
if(ZDB_MSVC_BUILD_DIR)
  set(ZDB_E2E_MSVC_ENV ${ZDB_E2E_ENV})
  list(TRANSFORM ZDB_E2E_MSVC_ENV REPLACE "^ZDB_WIN_BUILD=.*" "ZDB_WIN_BUILD=${ZDB_MSVC_BUILD_DIR}")
  list(TRANSFORM ZDB_E2E_MSVC_ENV REPLACE "^ZDB_E2E_WORK=.*" "ZDB_E2E_WORK=${ZDB_E2E_WORK}/msvc")
  foreach(module test_imports test_lifecycle test_delivery
          test_selftest.SelfTest.test_the_dll_passes_and_each_changed_byte_fails_its_check)
    string(REGEX REPLACE "\\..*" "" name ${module})
    add_test(NAME e2e_msvc_${name}
      COMMAND ${CMAKE_COMMAND} -E env ${ZDB_E2E_MSVC_ENV} ${ZDB_DEBIAN_PYTHON} -m unittest -v ${module}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
    set_tests_properties(e2e_msvc_${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)
  endforeach()
endif()
