# The test client, built with the product toolchain: its own
# EuroScopePlugInDll.dll (the client's interface) and the scenario runner.

add_library(host_sdk_objects OBJECT host/sdk_impl.cpp src/platform/runtime.cpp)
target_include_directories(host_sdk_objects PRIVATE src ${PROJECT_SOURCE_DIR})
target_compile_definitions(host_sdk_objects PRIVATE ZDB_SDK_EXPORTS)
target_compile_options(host_sdk_objects PRIVATE ${ZDB_FREESTANDING_FLAGS})
# Its exports are the client's interface as the plug-in is linked against
# it (EuroScopePlugInDll.def; the header marks no class for export), copied
# into the build folder so that the link's command line, which the PDB
# keeps, names no folder outside it.
configure_file(${PROJECT_SOURCE_DIR}/src/sdk/EuroScopePlugInDll.def
  ${CMAKE_BINARY_DIR}/EuroScopePlugInDll.def COPYONLY)
zdb_link(host_sdk EuroScopePlugInDll.dll host_sdk_objects
  /dll /noentry /subsystem:windows /def:${CMAKE_BINARY_DIR}/EuroScopePlugInDll.def
  /implib:${CMAKE_BINARY_DIR}/lib/EuroScopePlugInDll_host.lib)

zdb_import_library(ws2_32_host ${PROJECT_SOURCE_DIR}/host/ws2_32_host.def)
zdb_import_library(bcrypt_host ${PROJECT_SOURCE_DIR}/host/bcrypt_host.def)
zdb_import_library(ntdll_host ${PROJECT_SOURCE_DIR}/host/ntdll_host.def)
zdb_import_library(kernel32_host_extra ${PROJECT_SOURCE_DIR}/host/kernel32_host_extra.def)

add_library(host_runner_objects OBJECT ${ZDB_HOST_RUNNER_SOURCES})
target_include_directories(host_runner_objects PRIVATE src ${PROJECT_SOURCE_DIR})
target_compile_options(host_runner_objects PRIVATE ${ZDB_FREESTANDING_FLAGS})
zdb_link(host_runner ZeltanDokTestClient.exe host_runner_objects
  /entry:mainCRTStartup /subsystem:console /stack:1048576
  ${ZDB_IMPLIB_kernel32} ${ZDB_IMPLIB_kernel32_host} ${ZDB_IMPLIB_kernel32_host_extra}
  ${ZDB_IMPLIB_ws2_32_host} ${ZDB_IMPLIB_bcrypt_host} ${ZDB_IMPLIB_ntdll_host}
  ${CMAKE_BINARY_DIR}/lib/EuroScopePlugInDll_host.lib)
add_dependencies(host_runner host_sdk)
