# The alignment road headlessly: a template made from a picture registers a copy rolled by
# (3, -2) pixels back onto it, exactly, away from the band that came in from outside.
# Prints SKIP (the test counts as skipped) when the tools that make the pictures are
# missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

execute_process(COMMAND ${CONVERT} -size 157x113 -seed 7 plasma:orange-navy -blur 0x1
                        -depth 8 PNG24:${WORK}/reference.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the reference picture")
endif()
execute_process(COMMAND ${CONVERT} ${WORK}/reference.png -roll +3-2 -depth 8
                        PNG24:${WORK}/shifted.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the shifted picture")
endif()

set(REFERENCE ${WORK}/reference.png)
set(SHIFTED ${WORK}/shifted.png)
set(OUT ${WORK}/out.png)
zep_run_configured(${SCRIPT} align)

foreach(name shifted out)
  execute_process(COMMAND ${COMPARE} -metric AE ${WORK}/${name}.png[140x100+8+8]
                          ${WORK}/reference.png[140x100+8+8] null: ERROR_VARIABLE differing)
  string(REGEX MATCH "^[0-9.]+" value "${differing}")
  message("pixels of ${name}.png that differ from the reference inside: ${differing}")
  set(ae_${name} ${value})
endforeach()
if(NOT ae_out EQUAL 0)
  message(FATAL_ERROR "${ae_out} pixels differ after the alignment")
endif()
if(ae_shifted EQUAL 0)
  message(FATAL_ERROR "the shifted picture equals the reference")
endif()
