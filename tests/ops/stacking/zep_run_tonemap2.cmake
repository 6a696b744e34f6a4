# Tone Map 2 headlessly, float TIFF to float TIFF, checked as a global monotone map by
# scipy. Prints SKIP (the test counts as skipped) when python3 lacks numpy, scipy or
# tifffile.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)
set(PYTHON /usr/bin/python3)
execute_process(COMMAND ${PYTHON} -c "import numpy, scipy.stats, tifffile" RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("SKIP: python3 with numpy, scipy and tifffile is not installed")
  return()
endif()
set(IN ${WORK}/in.tif)
set(OUT ${WORK}/out.tif)
set(ITERATIONS 3000)
execute_process(COMMAND ${PYTHON} ${CHECK} make ${IN} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the scene")
endif()
configure_file(${SCRIPT} ${WORK}/tonemap2.zep @ONLY)
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/tonemap2.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Tone Map 2 script failed (${rc}): ${out} ${err}")
endif()
execute_process(COMMAND ${PYTHON} ${CHECK} check ${IN} ${OUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("Tone Map 2: ${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Tone Map 2 is not a global monotone map here: ${out} ${err}")
endif()
