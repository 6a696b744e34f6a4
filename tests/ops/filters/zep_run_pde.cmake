# Shock Filter, Tschumperle Regularization and Isophote Smoothing headlessly, file to file:
# each must bring its degraded picture closer to the clean one (PSNR through the peer's
# compare). Prints SKIP (the test counts as skipped) when the peer tools are missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

# Discs and bars with sharp edges; a blurred and a noisy copy, the same every run.
set(CLEAN ${WORK}/clean.png)
set(BLURRED ${WORK}/blurred.png)
set(NOISY ${WORK}/noisy.png)
execute_process(COMMAND ${CONVERT} -size 96x64 xc:gray20 -fill gray80 -draw "circle 34,32 34,10"
                        -fill gray55 -draw "rectangle 60,8 84,56" -depth 8 PNG24:${CLEAN}
                RESULT_VARIABLE made1)
execute_process(COMMAND ${CONVERT} ${CLEAN} -blur 0x2 -depth 8 PNG24:${BLURRED}
                RESULT_VARIABLE made2)
execute_process(COMMAND ${CONVERT} ${CLEAN} -seed 7 -attenuate 0.6 +noise Gaussian -depth 8
                        PNG24:${NOISY} RESULT_VARIABLE made3)
if(NOT made1 EQUAL 0 OR NOT made2 EQUAL 0 OR NOT made3 EQUAL 0)
  message(FATAL_ERROR "could not make the input pictures")
endif()

set(SHOCKED ${WORK}/shocked.png)
set(REGULARIZED ${WORK}/regularized.png)
set(ISOPHOTE ${WORK}/isophote.png)
zep_run_configured(${SCRIPT} pde)

function(psnr_to_clean name out)
  execute_process(COMMAND ${COMPARE} -metric PSNR ${CLEAN} ${WORK}/${name}.png null:
                  ERROR_VARIABLE text)
  string(REGEX MATCH "^[0-9.]+" value "${text}")
  if(value STREQUAL "")
    message(FATAL_ERROR "no PSNR for ${name}: ${text}")
  endif()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

foreach(pair "blurred;shocked" "noisy;regularized" "noisy;isophote")
  list(GET pair 0 before)
  list(GET pair 1 after)
  psnr_to_clean(${before} a)
  psnr_to_clean(${after} b)
  message("${after}: ${b} dB against ${a} dB before")
  if(NOT b GREATER a)
    message(FATAL_ERROR "${after} is not closer to the clean picture (${b} <= ${a} dB)")
  endif()
endforeach()
