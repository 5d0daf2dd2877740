# Our Windows declarations (src/platform/win32.h, the .def files) against
# mingw-w64's headers and import libraries, an SDK written without ours: a
# later edit that drifts from Windows fails here instead of on a user's
# machine.
find_program(ZDB_PYTHON NAMES python3 REQUIRED)
find_program(ZDB_MINGW_GCC NAMES i686-w64-mingw32-gcc REQUIRED)
find_program(ZDB_NM NAMES llvm-nm-14 llvm-nm REQUIRED)

# The product's compiler and target, read from its toolchain file inside a
# function so that nothing else of it reaches this build.
function(zdb_product_compiler compiler target)
  include(${PROJECT_SOURCE_DIR}/cmake/i686-windows-msvc.cmake)
  set(${compiler} ${CMAKE_CXX_COMPILER} PARENT_SCOPE)
  set(${target} ${CMAKE_CXX_COMPILER_TARGET} PARENT_SCOPE)
endfunction()
zdb_product_compiler(ZDB_PRODUCT_CXX ZDB_PRODUCT_TARGET)

set(ZDB_PLATFORM ${PROJECT_SOURCE_DIR}/src/platform)
add_test(NAME declarations
  COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/declarations/check_declarations.py
          --clang ${ZDB_PRODUCT_CXX} --gcc ${ZDB_MINGW_GCC} --nm ${ZDB_NM}
          --src ${PROJECT_SOURCE_DIR}/src
          --def ${ZDB_PLATFORM}/kernel32.def --def ${ZDB_PLATFORM}/winhttp.def
          --def ${PROJECT_SOURCE_DIR}/host/ws2_32_host.def
          --def ${PROJECT_SOURCE_DIR}/host/bcrypt_host.def
          --def ${PROJECT_SOURCE_DIR}/host/ntdll_host.def
          -- --target=${ZDB_PRODUCT_TARGET} -std=c++${CMAKE_CXX_STANDARD} ${ZDB_FREESTANDING_FLAGS})
