# Cross build for 32-bit Windows, MSVC ABI, with clang and lld-link. No
# Windows SDK and no C runtime: the project declares what it uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

find_program(ZDB_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_CXX_COMPILER ${ZDB_CLANGXX})
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)

# Compiler checks cannot link without a C runtime; objects are enough.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
