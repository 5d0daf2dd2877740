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
add_test(NAME msvc_same_interface
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/msvc/same_interface.py
          --debian ${ZDB_WIN_BUILD_DIR} --msvc ${ZDB_MSVC_BUILD_DIR} --readobj ${ZDB_READOBJ})
add_test(NAME msvc_vtables
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/vtables/check_vtables.py
          --dll ${ZDB_MSVC_BUILD_DIR}/ZeltanDokBridge.dll
          --map ${ZDB_MSVC_BUILD_DIR}/ZeltanDokBridge.map --objdump ${ZDB_OBJDUMP})
