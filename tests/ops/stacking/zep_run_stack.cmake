# Stacking headlessly through zep-run: five PNG frames f1.png .. f5.png made by ${CHECK}
# picked in the dialog for several files, stacked as ${SCRIPT} says and saved, then checked
# by ${CHECK} (the median against numpy's, a focus series against its truth, a fusion
# against OpenCV's). Prints SKIP (the test counts as skipped) without the python modules
# ${MODULES} (default numpy and PIL).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)
set(PYTHON /usr/bin/python3)
if(NOT MODULES)
  set(MODULES "numpy, PIL")
endif()
execute_process(COMMAND ${PYTHON} -c "import ${MODULES}" RESULT_VARIABLE rc OUTPUT_QUIET
                ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("SKIP: python3 with ${MODULES} is not installed")
  return()
endif()
execute_process(COMMAND ${PYTHON} ${CHECK} make ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the frames")
endif()
foreach(i 1 2 3 4 5)
  set(F${i} ${WORK}/f${i}.png)
endforeach()
set(OUT ${WORK}/out.png)
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_run_configured(${SCRIPT} stack)
execute_process(COMMAND ${PYTHON} ${CHECK} check ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the stacked result does not pass ${CHECK}")
endif()
