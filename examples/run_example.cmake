# Runs one example script (SCRIPT) with qol (QOL) in a fresh folder (WORK)
# and compares what it prints with SCRIPT's .expected file; it must exit
# with 0 and without a warning.
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
set(args)
if(EXISTS ${dir}/${name}.args)
  file(STRINGS ${dir}/${name}.args args)
endif()
set(input_option)
if(EXISTS ${dir}/${name}.input)
  set(input_option INPUT_FILE ${dir}/${name}.input)
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${QOL} ${SCRIPT} ${args}
  WORKING_DIRECTORY ${WORK} ${input_option}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
file(READ ${dir}/${name}.expected expected)
# The runner's warnings (a character GBK lacks, a quote or bracket left open)
# have no place in an example.
if(NOT status EQUAL 0 OR NOT out STREQUAL expected OR err MATCHES ": warning: ")
  message(FATAL_ERROR "${name}: status ${status}\n--- printed:\n${out}\n--- expected:\n${expected}\n--- standard error:\n${err}")
endif()
