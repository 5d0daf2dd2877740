# Visual Studio's path (cmake/msvc.cmake), as built here with clang-cl in
# its own tree: no form in what it compiles that cl refuses and clang-cl
# accepts (each check also meets a planted case), the same exports and
# imports as the Debian build, and the plug-in's virtual tables. The Wine
# end-to-end modules that run on its binaries are in tests/e2e/e2e.cmake.
if(NOT ZDB_MSVC_BUILD_DIR OR NOT ZDB_WIN_BUILD_DIR)
  return()
endif()
find_program(ZDB_PYTHON NAMES python3 REQUIRED)
find_program(ZDB_READOBJ NAMES llvm-readobj-14 llvm-readobj REQUIRED)
find_program(ZDB_OBJDUMP NAMES llvm-objdump-14 llvm-objdump REQUIRED)

add_test(NAME msvc_cl_forms
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/msvc/cl_forms.py
          --build ${ZDB_MSVC_BUILD_DIR} --source ${PROJECT_SOURCE_DIR})
add_test(NAME msvc_cl_forms_planted
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/msvc/cl_forms.py --planted
          --build ${ZDB_MSVC_BUILD_DIR} --source ${PROJECT_SOURCE_DIR})
# Configured for 64-bit code, as from Visual Studio's x64 prompt, the build
# stops at configure and says why.
add_test(NAME msvc_refuses_x64
  COMMAND ${CMAKE_COMMAND} --fresh -S ${PROJECT_SOURCE_DIR} -B ${CMAKE_BINARY_DIR}/msvc-x64 -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/clang-cl-cross.cmake
          -DCMAKE_CXX_COMPILER_TARGET=x86_64-pc-windows-msvc)
set_tests_properties(msvc_refuses_x64 PROPERTIES
  PASS_REGULAR_EXPRESSION "makes 32-bit \\(x86\\) binaries only, but [^ ]+ makes[ \n]+64-bit code")
# Configured as the msvc-x86 preset leaves it (ZDB_WARNINGS_AS_ERRORS off),
# the build warns at /W4 and goes on: a maintainer's first build does not
# stop on a warning that a newer Visual Studio adds.
add_test(NAME msvc_preset_configure
  COMMAND ${CMAKE_COMMAND} --fresh -S ${PROJECT_SOURCE_DIR} -B ${CMAKE_BINARY_DIR}/msvc-preset -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/clang-cl-cross.cmake)
set_tests_properties(msvc_preset_configure PROPERTIES FIXTURES_SETUP msvc_preset)
add_test(NAME msvc_preset_warns_only COMMAND ninja -C ${CMAKE_BINARY_DIR}/msvc-preset -t commands)
set_tests_properties(msvc_preset_warns_only PROPERTIES FIXTURES_REQUIRED msvc_preset
  PASS_REGULAR_EXPRESSION " /W4 " FAIL_REGULAR_EXPRESSION "/WX")
add_test(NAME msvc_same_interface
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/msvc/same_interface.py
          --debian ${ZDB_WIN_BUILD_DIR} --msvc ${ZDB_MSVC_BUILD_DIR} --readobj ${ZDB_READOBJ})
add_test(NAME msvc_vtables
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/vtables/check_vtables.py
          --dll ${ZDB_MSVC_BUILD_DIR}/ZeltanDokBridge.dll
          --map ${ZDB_MSVC_BUILD_DIR}/ZeltanDokBridge.map --objdump ${ZDB_OBJDUMP})
