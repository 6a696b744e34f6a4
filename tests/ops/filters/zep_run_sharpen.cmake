# Unsharp Mask (Gaussian mode), Xsharpen, Periodic Smoothing and the Poisson Sharpener
# headlessly, file to file, beside scipy.ndimage
# on the same picture. Prints SKIP (the test counts as skipped) when python3 lacks numpy,
# scipy or PIL.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_scipy_start()

# RADIUS is the unsharp radius, WINDOW the Xsharpen window, FUNCTION the periodic
# statistic; SIZE the one the check uses.
function(sharpen COMMAND SIZE RADIUS WINDOW)
  if(NOT DEFINED FUNCTION)
    set(FUNCTION Median)
  endif()
  set(OUT ${WORK}/${COMMAND}${SIZE}.png)
  configure_file(${SCRIPT} ${WORK}/${COMMAND}${SIZE}.zep @ONLY)
  execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/${COMMAND}${SIZE}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${COMMAND} ${SIZE} failed (${rc}): ${out} ${err}")
  endif()
  execute_process(COMMAND ${PYTHON} ${CHECK} compare ${IN} ${OUT} ${COMMAND} ${SIZE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message("${COMMAND} ${SIZE}: ${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${COMMAND} ${SIZE} differs from the reference: ${out} ${err}")
  endif()
endfunction()

foreach(RADIUS 1 2 3)
  sharpen(UnsharpMask ${RADIUS} ${RADIUS} 3)
endforeach()
foreach(WINDOW 3 5 7)
  sharpen(Xsharpen ${WINDOW} 1 ${WINDOW})
endforeach()
foreach(CODE 0 3)
  if(CODE EQUAL 0)
    set(FUNCTION Median)
  else()
    set(FUNCTION Average)
  endif()
  sharpen(PeriodicSmoothing ${CODE} 1 3)
endforeach()
unset(FUNCTION)
sharpen(PoissonSharpener 0 1 3)
