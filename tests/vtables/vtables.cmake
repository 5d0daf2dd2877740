# The virtual tables of the linked DLL against the client's CPlugIn table,
# read from the file without running it (no Wine).
if(NOT ZDB_WIN_BUILD_DIR)
  return()
endif()
find_program(ZDB_OBJDUMP NAMES llvm-objdump-14 llvm-objdump REQUIRED)
find_program(ZDB_PYTHON NAMES python3 REQUIRED)
add_test(NAME vtables
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/vtables/check_vtables.py
          --dll ${ZDB_WIN_BUILD_DIR}/ZeltanDokBridge.dll
          --map ${ZDB_WIN_BUILD_DIR}/ZeltanDokBridge.map --objdump ${ZDB_OBJDUMP})
