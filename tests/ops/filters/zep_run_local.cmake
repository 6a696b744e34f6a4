# Lens Blur and Median headlessly, file to file, beside scipy.ndimage on the same picture:
# the disc mean and the disc median with the edge sample repeated. Prints SKIP (the test
# counts as skipped) when python3 lacks numpy, scipy or PIL.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_scipy_start()

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
