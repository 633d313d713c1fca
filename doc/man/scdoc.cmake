# cmake -DSCDOC=... -DGZIP=... -DSOURCE=<page>.scd -DOUTPUT=<page>.gz -P scdoc.cmake
# Turns one scdoc source into a manual page compressed the way Debian wants
# it: gzip -9, without a name or a time stamp.
get_filename_component(directory ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${directory})
string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${page})
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}")
endif()
