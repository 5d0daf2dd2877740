# The product build: objects compiled by CMake, linked by explicit lld-link
# commands so that every linker switch is visible here.
find_program(ZDB_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
find_program(ZDB_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
find_program(ZDB_RC NAMES llvm-rc-14 llvm-rc REQUIRED)

# Our flags alone decide the code: no build-type defaults (they would add
# debug information and change optimisation behind our back).
foreach(config DEBUG RELEASE RELWITHDEBINFO MINSIZEREL)
  set(CMAKE_CXX_FLAGS_${config} "")
endforeach()

# CodeView debug information for the PDBs: source names relative to the
# tree's root and no build folder. clang 14 also keeps each compile's
# command line in them, with the tree's absolute path (the switch to leave
# it out, -gno-codeview-command-line, came with clang 15).
add_compile_options(-g -gcodeview -ffile-compilation-dir=.
  -fdebug-prefix-map=${PROJECT_SOURCE_DIR}/=)

# Import libraries from our own .def files: stdcall names like
# CreateEventA@16, imported under their undecorated names (-k).
function(zdb_import_library name def)
  set(lib ${CMAKE_BINARY_DIR}/lib/${name}.lib)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
    COMMAND ${ZDB_DLLTOOL} -m i386 -k -d ${def} -l ${lib}
    DEPENDS ${def} VERBATIM)
  set(ZDB_IMPLIB_${name} ${lib} PARENT_SCOPE)
endfunction()

zdb_import_library(kernel32 ${PROJECT_SOURCE_DIR}/src/platform/kernel32.def)
zdb_import_library(winhttp ${PROJECT_SOURCE_DIR}/src/platform/winhttp.def)
zdb_import_library(EuroScopePlugInDll ${PROJECT_SOURCE_DIR}/src/sdk/EuroScopePlugInDll.def)
zdb_import_library(kernel32_host ${PROJECT_SOURCE_DIR}/host/kernel32_host.def)

# Links `objects` (an OBJECT library) into `output` with lld-link, and its
# symbols into a PDB of the same name, which the binary names without a
# folder (/pdbaltpath); the rest of the arguments are lld-link switches and
# libraries.
function(zdb_link target output objects)
  set(extra ${ARGN})
  set(libs)
  get_filename_component(stem ${output} NAME_WE)
  set(pdb ${CMAKE_BINARY_DIR}/${stem}.pdb)
  set(outputs ${CMAKE_BINARY_DIR}/${output} ${pdb})
  foreach(item IN LISTS extra)
    if(item MATCHES "^/(implib|map):(.*)$")
      list(APPEND outputs ${CMAKE_MATCH_2})
    elseif(item MATCHES "\\.(lib|res)$")
      list(APPEND libs ${item})
    elseif(item MATCHES "^/def:(.*)$")
      list(APPEND libs ${CMAKE_MATCH_1})
    endif()
  endforeach()
  # The link runs through relative_link.cmake, in the build folder.
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -D ZDB_BASE=${CMAKE_BINARY_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/relative_link.cmake --
            ${ZDB_LLD_LINK} /nologo /nodefaultlib /machine:x86 /Brepro /opt:ref
            /debug /pdb:${pdb} /pdbaltpath:%_PDB% /pdbsourcepath:C:/zdb
            /out:${CMAKE_BINARY_DIR}/${output} $<TARGET_OBJECTS:${objects}> ${extra}
    DEPENDS ${objects} $<TARGET_OBJECTS:${objects}> ${libs}
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${CMAKE_BINARY_DIR}/${output})
endfunction()

# The version resource Windows shows in the file's properties. llvm-rc reads
# any argument that starts with '/' as a switch, so a source path such as
# /check/... would be taken for /c (code page): "--" ends the switches.
set(ZDB_VERSION_RES ${CMAKE_BINARY_DIR}/lib/version.res)
add_custom_command(OUTPUT ${ZDB_VERSION_RES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
  COMMAND ${ZDB_RC} /nologo /fo ${ZDB_VERSION_RES} -- ${CMAKE_BINARY_DIR}/version.rc
  DEPENDS ${CMAKE_BINARY_DIR}/version.rc VERBATIM)

# The plug-in. The link map (the DLL's bytes are the same with or without
# it) tells tests/vtables where the virtual tables are.
add_library(bridge_objects OBJECT ${ZDB_PRODUCT_SOURCES} src/platform/runtime.cpp)
target_include_directories(bridge_objects PRIVATE src)
target_compile_options(bridge_objects PRIVATE ${ZDB_FREESTANDING_FLAGS})
zdb_link(bridge ZeltanDokBridge.dll bridge_objects
  /dll /entry:DllMain /subsystem:windows /map:${CMAKE_BINARY_DIR}/ZeltanDokBridge.map
  ${ZDB_VERSION_RES}
  ${ZDB_IMPLIB_kernel32} ${ZDB_IMPLIB_winhttp} ${ZDB_IMPLIB_EuroScopePlugInDll})

include(${PROJECT_SOURCE_DIR}/host/host.cmake)
include(${PROJECT_SOURCE_DIR}/bench/wine_baseline.cmake)
