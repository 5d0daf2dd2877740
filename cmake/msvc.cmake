# Visual Studio's path: the three Windows binaries through CMake's own rules
# for cl, link, lib and rc, as a maintainer gets them from the presets in a
# Developer Command Prompt or in Visual Studio's Open Folder. Here the same
# rules run with clang-cl, lld-link, llvm-lib and llvm-rc
# (cmake/clang-cl-cross.cmake). The release bundle is not made here: it
# comes from the Debian build (cmake/product.cmake) and its explicit links.
enable_language(RC)

# 32-bit binaries only: the radar client is a 32-bit program, and the
# runtime's helpers are x86 assembly (__asm), which cl has only for x86. From
# an x64 prompt cl makes 64-bit code and the build would stop much later, on
# the first __asm; here it stops at once and says why.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  math(EXPR zdb_bits "${CMAKE_SIZEOF_VOID_P} * 8")
  message(FATAL_ERROR
    "This build makes 32-bit (x86) binaries only, but ${CMAKE_CXX_COMPILER} makes "
    "${zdb_bits}-bit code (${CMAKE_CXX_COMPILER_ARCHITECTURE_ID}). Open the "
    "\"x86 Native Tools Command Prompt for VS 2022\" (or run vcvarsall.bat x86), delete the "
    "build folder (${CMAKE_BINARY_DIR}) and configure again.")
endif()

# Our flags alone decide the code: none of CMake's defaults (/EHsc, /GR,
# /MD, the SDK's libraries, per-configuration optimisation and debug flags).
set(CMAKE_CXX_FLAGS "")
set(CMAKE_SHARED_LINKER_FLAGS "")
set(CMAKE_EXE_LINKER_FLAGS "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
foreach(config DEBUG RELEASE RELWITHDEBINFO MINSIZEREL)
  set(CMAKE_CXX_FLAGS_${config} "")
  set(CMAKE_SHARED_LINKER_FLAGS_${config} "")
  set(CMAKE_EXE_LINKER_FLAGS_${config} "")
endforeach()

# No C runtime (/Zl names none), no security cookies (/GS-), no RTTI (/GR-),
# no exceptions (/EHs-c-), no guarded statics (/Zc:threadSafeInit-, which
# would call the runtime's _Init_thread_header), warnings at level 4.
# Debug information in the objects (/Z7): no compiler PDB to share.
set(ZDB_MSVC_COMPILE_FLAGS
  /nologo /O2 /Gy /Z7 /W4 /GS- /GR- /EHs-c- /Zl /Zc:threadSafeInit-)
# Warnings stop the build (/WX) where the project judges itself: the
# clang-cl build here (its preset turns this on) and the workflow's Visual
# Studio build. A maintainer's first build (preset msvc-x86) warns and goes
# on, since a newer Visual Studio may warn where nobody here could look.
option(ZDB_WARNINGS_AS_ERRORS "Stop on a compiler warning (/WX)" OFF)
if(ZDB_WARNINGS_AS_ERRORS)
  list(APPEND ZDB_MSVC_COMPILE_FLAGS /WX)
endif()
# clang-cl's /W4 is -Wall -Wextra, which misses warnings that cl's /W4 has.
# Their clang counterparts, so that this build fails where cl would:
#   C4244 (a conversion loses data)   -Wimplicit-int-conversion -Wshorten-64-to-32
#                                      -Wimplicit-float-conversion -Wfloat-conversion
#   C4456-C4459 (a name hides another) -Wshadow-all
#   C4189 (set but never read)        -Wunused-but-set-variable
#   C4701 (maybe used uninitialised)  -Wconditional-uninitialized
#   C4702 (unreachable code)          -Wunreachable-code
# The cl warnings with no clang counterpart are scanned for instead
# (tests/msvc/cl_forms.py).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND ZDB_MSVC_COMPILE_FLAGS
    -Wimplicit-int-conversion -Wshorten-64-to-32 -Wimplicit-float-conversion -Wfloat-conversion
    -Wshadow-all -Wunused-but-set-variable -Wconditional-uninitialized -Wunreachable-code)
endif()
# /NODEFAULTLIB: a helper that only a C runtime provides (64-bit division,
# float conversions, _chkstk beyond ours) stays unresolved and fails the link.
set(ZDB_MSVC_LINK_FLAGS
  /NODEFAULTLIB /MACHINE:X86 /INCREMENTAL:NO /MANIFEST:NO /OPT:REF /OPT:ICF /Brepro
  /DEBUG /PDBALTPATH:%_PDB%)

# Import libraries. With no Windows SDK (the cross build) they come from
# our own .def files, as in the Debian build; Visual Studio links the SDK's
# own. The client's interface DLL has no SDK library: lib makes one from the
# .def file.
function(zdb_msvc_import_library name def)
  set(lib ${CMAKE_BINARY_DIR}/lib/${name}.lib)
  if(ZDB_DLLTOOL)
    set(command ${ZDB_DLLTOOL} -m i386 -k -d ${def} -l ${lib})
  else()
    set(command ${CMAKE_AR} /nologo /machine:x86 /def:${def} /out:${lib})
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
    COMMAND ${command}
    DEPENDS ${def} VERBATIM)
  add_custom_target(implib_${name} DEPENDS ${lib})
  set(ZDB_MSVC_IMPLIB_${name} ${lib} PARENT_SCOPE)
endfunction()

zdb_msvc_import_library(EuroScopePlugInDll ${PROJECT_SOURCE_DIR}/src/sdk/EuroScopePlugInDll.def)
if(ZDB_DLLTOOL)
  foreach(def src/platform/kernel32.def src/platform/winhttp.def host/kernel32_host.def
              host/kernel32_host_extra.def host/ws2_32_host.def host/bcrypt_host.def
              host/ntdll_host.def)
    get_filename_component(name ${def} NAME_WE)
    zdb_msvc_import_library(${name} ${PROJECT_SOURCE_DIR}/${def})
  endforeach()
  set(ZDB_MSVC_PLUGIN_LIBS ${ZDB_MSVC_IMPLIB_kernel32} ${ZDB_MSVC_IMPLIB_winhttp})
  set(ZDB_MSVC_RUNNER_LIBS ${ZDB_MSVC_IMPLIB_kernel32} ${ZDB_MSVC_IMPLIB_kernel32_host}
    ${ZDB_MSVC_IMPLIB_kernel32_host_extra} ${ZDB_MSVC_IMPLIB_ws2_32_host}
    ${ZDB_MSVC_IMPLIB_bcrypt_host} ${ZDB_MSVC_IMPLIB_ntdll_host})
else()
  set(ZDB_MSVC_PLUGIN_LIBS kernel32.lib winhttp.lib)
  set(ZDB_MSVC_RUNNER_LIBS kernel32.lib ws2_32.lib bcrypt.lib ntdll.lib)
endif()

# One Windows binary: its sources, compiled and linked with the flags above
# and with `link` switches and libraries of its own. Each writes its PDB and
# its link map (tests/vtables reads the plug-in's) beside it.
function(zdb_msvc_binary target kind output)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "SOURCES;LINK;LIBS")
  if(kind STREQUAL "DLL")
    add_library(${target} SHARED ${arg_SOURCES})
  else()
    add_executable(${target} ${arg_SOURCES})
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output} PREFIX "")
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${ZDB_MSVC_COMPILE_FLAGS}>)
  target_link_options(${target} PRIVATE ${ZDB_MSVC_LINK_FLAGS} ${arg_LINK}
    /MAP:$<TARGET_FILE_DIR:${target}>/${output}.map)
  target_link_libraries(${target} PRIVATE ${arg_LIBS})
endfunction()

zdb_msvc_binary(bridge DLL ZeltanDokBridge
  SOURCES ${ZDB_PRODUCT_SOURCES} ${PROJECT_SOURCE_DIR}/src/platform/runtime.cpp
          ${CMAKE_BINARY_DIR}/version.rc
  LINK /ENTRY:DllMain /SUBSYSTEM:WINDOWS
  LIBS ${ZDB_MSVC_PLUGIN_LIBS} ${ZDB_MSVC_IMPLIB_EuroScopePlugInDll})
add_dependencies(bridge implib_EuroScopePlugInDll)

# Its exports come from the .def, as in the Debian build (host/host.cmake).
zdb_msvc_binary(host_sdk DLL EuroScopePlugInDll
  SOURCES ${PROJECT_SOURCE_DIR}/host/sdk_impl.cpp ${PROJECT_SOURCE_DIR}/src/platform/runtime.cpp
          ${PROJECT_SOURCE_DIR}/src/sdk/EuroScopePlugInDll.def
  LINK /NOENTRY /SUBSYSTEM:WINDOWS)
target_compile_definitions(host_sdk PRIVATE ZDB_SDK_EXPORTS)

zdb_msvc_binary(host_runner EXE ZeltanDokTestClient
  SOURCES ${ZDB_HOST_RUNNER_SOURCES}
  LINK /ENTRY:mainCRTStartup /SUBSYSTEM:CONSOLE /STACK:1048576
  LIBS ${ZDB_MSVC_RUNNER_LIBS} host_sdk)
