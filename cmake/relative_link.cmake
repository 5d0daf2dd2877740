# cmake -D ZDB_BASE=<folder> -P relative_link.cmake -- <linker> <arguments>
# Runs the link in <folder> with every path below it written relative to
# it: a PDB keeps the linker's command line and the object paths, and the
# folder the tree was built in must not show in the symbols.
set(command)
set(after_dashes FALSE)
foreach(i RANGE 1 ${CMAKE_ARGC})
  if(after_dashes AND DEFINED CMAKE_ARGV${i})
    string(REPLACE "${ZDB_BASE}/" "" argument "${CMAKE_ARGV${i}}")
    list(APPEND command "${argument}")
  elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
    set(after_dashes TRUE)
  endif()
endforeach()
execute_process(COMMAND ${command} WORKING_DIRECTORY ${ZDB_BASE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "link failed (${status})")
endif()
