# qotool_soname(VAR NAME FALLBACK [HINTS dir...]): sets VAR to the SONAME of
# the library NAME (as find_library finds it), the file name a program passes
# to dlopen to load that library at first use; FALLBACK when it cannot be read.
function(qotool_soname var name fallback)
  cmake_parse_arguments(ARG "" "" "HINTS" ${ARGN})
  set(soname "${fallback}")
  find_library(QOTOOL_SONAME_FILE_${name} NAMES ${name} HINTS ${ARG_HINTS})
  if(QOTOOL_SONAME_FILE_${name} AND CMAKE_OBJDUMP)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${QOTOOL_SONAME_FILE_${name}}
      OUTPUT_VARIABLE headers ERROR_QUIET)
    if(headers MATCHES "SONAME +([^\n ]+)")
      set(soname "${CMAKE_MATCH_1}")
    endif()
  endif()
  set(${var} "${soname}" PARENT_SCOPE)
endfunction()
