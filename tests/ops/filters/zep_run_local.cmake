# Lens Blur and Median headlessly, file to file, beside scipy.ndimage on the same picture:
# the disc mean and the disc median with the edge sample repeated. Prints SKIP (the test
# counts as skipped) when python3 lacks numpy, scipy or PIL.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)
set(PYTHON /usr/bin/python3)
execute_process(COMMAND ${PYTHON} -c "import numpy, scipy.ndimage, PIL" RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("SKIP: python3 with numpy, scipy and PIL is not installed")
  return()
endif()

set(IN ${WORK}/in.png)
execute_process(COMMAND ${PYTHON} ${CHECK} make ${IN} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the input picture")
endif()

foreach(COMMAND LensBlur Median)
  foreach(RADIUS 1 2 3)
    set(OUT ${WORK}/${COMMAND}${RADIUS}.png)
    configure_file(${SCRIPT} ${WORK}/${COMMAND}${RADIUS}.zep @ONLY)
    execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/${COMMAND}${RADIUS}.zep
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${COMMAND} radius ${RADIUS} failed (${rc}): ${out} ${err}")
    endif()
    execute_process(COMMAND ${PYTHON} ${CHECK} compare ${IN} ${OUT} ${COMMAND} ${RADIUS}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("${COMMAND} radius ${RADIUS}: ${out}")
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${COMMAND} radius ${RADIUS} differs from the reference: ${out} ${err}")
    endif()
  endforeach()
endforeach()
