# Helpers of the zep-run scripts that compare a result file with a peer tool's.

# Empties ${WORK} (keeping an empty program directory ${WORK}/home) and finds convert and
# compare; without them prints SKIP (the test counts as skipped) and ends the script.
macro(zep_peer_start)
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK}/home)
  find_program(CONVERT convert)
  find_program(COMPARE compare)
  if(NOT CONVERT OR NOT COMPARE)
    message("SKIP: the peer tools (convert, compare) are not installed")
    return()
  endif()
endmacro()

# Crops ${DIR}/<a>.png and ${DIR}/<b>.png to the geometry (e.g. 135x86+8+8) and fails
# unless the PSNR of the two crops reaches minimum dB.
function(zep_expect_psnr dir a b geometry minimum)
  foreach(name ${a} ${b})
    execute_process(COMMAND ${CONVERT} ${dir}/${name}.png -crop ${geometry} +repage
                            PNG24:${dir}/${name}-inner.png RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "could not crop ${name}.png")
    endif()
  endforeach()
  execute_process(COMMAND ${COMPARE} -metric PSNR ${dir}/${a}-inner.png ${dir}/${b}-inner.png
                          null: ERROR_VARIABLE psnr)
  string(REGEX MATCH "^[0-9.]+|^inf" value "${psnr}")
  message("PSNR against the peer: ${psnr}")
  if(NOT value STREQUAL "inf" AND value LESS ${minimum})
    message(FATAL_ERROR "PSNR ${psnr} below ${minimum} dB")
  endif()
endfunction()

# Configures the script (its @VARIABLES@ from the caller's) into ${WORK}/<name>.zep and
# runs it with zep-run in the program directory ${WORK}/home; fails when the run fails.
function(zep_run_configured script name)
  configure_file(${script} ${WORK}/${name}.zep @ONLY)
  execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/${name}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the ${name} script failed (${rc}): ${out} ${err}")
  endif()
endfunction()

# Empties ${WORK} (keeping ${WORK}/home), sets PYTHON, and has ${CHECK} make the input
# picture ${IN} (${WORK}/in.png); without numpy, scipy and PIL prints SKIP and ends the
# script.
macro(zep_scipy_start)
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
endmacro()
