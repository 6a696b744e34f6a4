# Fast Noise Removal headlessly, file to file, with a profile loaded from a file, beside
# numpy's own a-trous shrinkage. Prints SKIP (the test counts as skipped) when python3
# lacks numpy, scipy or PIL.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_scipy_start()
set(PROFILE ${IN}.PRFL)
set(OUT ${WORK}/out.png)
zep_run_configured(${SCRIPT} noise)
execute_process(COMMAND ${PYTHON} ${CHECK} compare ${IN} ${OUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("Fast Noise Removal: ${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Fast Noise Removal differs from the reference: ${out} ${err}")
endif()
