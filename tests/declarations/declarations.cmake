# Our Windows declarations (src/platform/win32.h, the test client's
# host/host_win32.h, their .def files) against mingw-w64's headers and import
# libraries, an SDK written without ours: a later edit that drifts from
# Windows fails here instead of on a user's machine.
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

# One test per header: the header (from the project's root), the mingw-w64
# headers that declare the same (in the order they must be included, with
# any -D they need), then the .def files of the header's functions.
function(zdb_declarations header mingw_headers)
  get_filename_component(name ${header} NAME_WE)
  set(args)
  foreach(included IN LISTS mingw_headers)
    if(included MATCHES "^-D")
      list(APPEND args --mingw-define=${included})
    else()
      list(APPEND args --mingw ${included})
    endif()
  endforeach()
  foreach(def IN LISTS ARGN)
    list(APPEND args --def ${PROJECT_SOURCE_DIR}/${def})
  endforeach()
  add_test(NAME declarations_${name}
    COMMAND ${ZDB_PYTHON} ${PROJECT_SOURCE_DIR}/tests/declarations/check_declarations.py
            --clang ${ZDB_PRODUCT_CXX} --gcc ${ZDB_MINGW_GCC} --nm ${ZDB_NM}
            --header ${PROJECT_SOURCE_DIR}/${header} ${args}
            -- --target=${ZDB_PRODUCT_TARGET} -std=c++${CMAKE_CXX_STANDARD} ${ZDB_FREESTANDING_FLAGS}
               -I${PROJECT_SOURCE_DIR}/src -I${PROJECT_SOURCE_DIR}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endfunction()

zdb_declarations(src/platform/win32.h "windows.h;winhttp.h" src/platform/kernel32.def src/platform/winhttp.def)
zdb_declarations(host/host_win32.h "windows.h" host/kernel32_host.def)
zdb_declarations(host/host_win32_extra.h "winsock2.h;windows.h;bcrypt.h"
                 host/kernel32_host_extra.def host/ws2_32_host.def host/bcrypt_host.def)
# mingw-w64 declares RtlGetVersion only in its driver kit, which compiles
# alone but not together with windows.h, and in C++ only when two of its
# intrinsics are not defined twice.
zdb_declarations(host/host_ntdll.h
  "-D__INTRINSIC_DEFINED_InterlockedBitTestAndSet;-D__INTRINSIC_DEFINED_InterlockedBitTestAndReset;ddk/ntddk.h"
  host/ntdll_host.def)
