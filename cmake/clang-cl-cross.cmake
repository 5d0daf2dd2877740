# Visual Studio's CMake path (cmake/msvc.cmake), driven on Linux by LLVM's
# stand-ins for its tools: clang-cl for cl, lld-link for link, llvm-lib for
# lib, llvm-rc for rc. No Windows SDK: import libraries come from our own
# .def files through llvm-dlltool.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZDB_LLVM_BIN /usr/lib/llvm-14/bin)
find_program(CMAKE_CXX_COMPILER NAMES clang-cl-14 clang-cl HINTS ${ZDB_LLVM_BIN} REQUIRED)
find_program(CMAKE_LINKER NAMES lld-link-14 lld-link HINTS ${ZDB_LLVM_BIN} REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib-14 llvm-lib HINTS ${ZDB_LLVM_BIN} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc-14 llvm-rc HINTS ${ZDB_LLVM_BIN} REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt-14 llvm-mt HINTS ${ZDB_LLVM_BIN} REQUIRED)
find_program(ZDB_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool HINTS ${ZDB_LLVM_BIN} REQUIRED)
# A test sets another target to see the build refuse it.
if(NOT CMAKE_CXX_COMPILER_TARGET)
  set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
endif()

# Compiler checks cannot link without a C runtime; objects are enough.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
