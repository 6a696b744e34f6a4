# The template road headlessly: a template made from a picture brings a copy of it at half
# the brightness and contrast back to the picture, through PNG files on both sides.
# Prints SKIP (the test counts as skipped) when the tools that make the pictures are
# missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

execute_process(COMMAND ${CONVERT} -size 157x113 -seed 11 plasma:orange-navy -blur 0x1
                        -depth 8 PNG24:${WORK}/reference.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the reference picture")
endif()
execute_process(COMMAND ${CONVERT} ${WORK}/reference.png -evaluate multiply 0.5 -depth 8
                        PNG24:${WORK}/darker.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the darker picture")
endif()

set(REFERENCE ${WORK}/reference.png)
set(DARKER ${WORK}/darker.png)
set(OUT ${WORK}/out.png)
zep_run_configured(${SCRIPT} series)

foreach(name darker out)
  execute_process(COMMAND ${COMPARE} -metric PSNR ${WORK}/${name}.png ${WORK}/reference.png
                          null: ERROR_VARIABLE psnr)
  string(REGEX MATCH "^[0-9.]+|^inf" value "${psnr}")
  message("PSNR of ${name}.png against the reference: ${psnr}")
  set(psnr_${name} ${value})
endforeach()
# Halving and rounding to 8 bits loses half a level on average; doubled back, about one.
if(NOT psnr_out STREQUAL "inf" AND psnr_out LESS 40)
  message(FATAL_ERROR "PSNR ${psnr_out} below 40 dB")
endif()
if(NOT psnr_darker LESS 20)
  message(FATAL_ERROR "the darker picture is too close to the reference (${psnr_darker} dB)")
endif()
