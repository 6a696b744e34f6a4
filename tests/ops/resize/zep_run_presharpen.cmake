# Presharpen headlessly, file to file, beside scipy.ndimage's correlation with the kernel
# read from the generated Kernels file. Prints SKIP (the test counts as skipped) when
# python3 lacks numpy, scipy or PIL.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_scipy_start()

# The page's row takes the model by its name.
set(MODELNAMES Box Bilinear Bicubic Lanczos2 Lanczos3)
foreach(case "4;6;1" "0;9;1" "2;3;0.5")
  list(GET case 0 MODEL)
  list(GET case 1 SCALE)
  list(GET case 2 AMOUNT)
  list(GET MODELNAMES ${MODEL} MODELNAME)
  set(OUT ${WORK}/presharpen-${MODEL}-${SCALE}.png)
  zep_run_configured(${SCRIPT} presharpen-${MODEL}-${SCALE})
  execute_process(COMMAND ${PYTHON} ${CHECK} compare ${IN} ${OUT} ${KERNELS} ${MODEL} ${SCALE}
                          ${AMOUNT} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message("model ${MODEL}, scale ${SCALE}, amount ${AMOUNT}: ${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "model ${MODEL}, scale ${SCALE} differs from the reference: ${out} ${err}")
  endif()
endforeach()
