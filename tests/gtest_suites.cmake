# Run at build time (cmake -P): writes OUTPUT, one ctest per GoogleTest suite
# of EXECUTABLE but those matching SKIP (a process per test made the suite's
# time mostly process start-up; a failing test is still named in the suite's
# output with its file and line). Suites matching ODBC are labelled odbc,
# the others unit; ENVIRONMENT is a list with "|" between its entries.
execute_process(COMMAND ${EXECUTABLE} --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests failed: ${status}")
endif()
string(REPLACE "|" ";" environment "${ENVIRONMENT}")
set(content "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # A suite's line is its name and a dot, unindented; its tests follow indented.
  if(NOT line MATCHES "^([^ #]+)\\.( |$)")
    continue()
  endif()
  set(suite ${CMAKE_MATCH_1})
  if(suite MATCHES "${SKIP}")
    continue()
  endif()
  set(label unit)
  if(suite MATCHES "${ODBC}")
    set(label odbc)
  endif()
  string(APPEND content "add_test([=[${suite}]=] [=[${EXECUTABLE}]=] [=[--gtest_filter=${suite}.*]=])\n"
    "set_tests_properties([=[${suite}]=] PROPERTIES ENVIRONMENT [=[${environment}]=] LABELS ${label})\n")
endforeach()
file(WRITE ${OUTPUT} "${content}")
