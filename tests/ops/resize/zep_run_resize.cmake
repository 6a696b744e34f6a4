# The whole road headlessly: open a PNG, Lanczos-3 to 50%, save it as a PNG, and compare
# the interior with an independent tool's Lanczos reduction of the same file.
# Prints SKIP (the test counts as skipped) while zep-run cannot open and save files or
# the peer is missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

file(WRITE ${WORK}/probe.zep "new\nopen ${WORK}/none.png\n")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/probe.zep
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(err MATCHES "unknown statement open")
  message("SKIP: zep-run has no open statement yet")
  return()
endif()

# A smooth but busy 8-bit picture, the same every run.
execute_process(COMMAND ${CONVERT} -size 301x203 -seed 7 plasma:red-blue -blur 0x1.5
                        -depth 8 PNG24:${WORK}/in.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the input picture")
endif()

set(IN ${WORK}/in.png)
set(OUT ${WORK}/out.png)
zep_run_configured(${SCRIPT} half)

execute_process(COMMAND ${CONVERT} ${WORK}/in.png -filter Lanczos -resize 50% -depth 8
                        PNG24:${WORK}/peer.png RESULT_VARIABLE rc)
execute_process(COMMAND ${CONVERT} ${WORK}/out.png -format "%w %h" info:
                OUTPUT_VARIABLE size)
if(NOT size STREQUAL "151 102")
  message(FATAL_ERROR "zep-run wrote ${size}, not 151 x 102")
endif()
# 301 x 203 at 50% is 151 x 102 on both sides; the interior leaves 8 pixels at each edge.
zep_expect_psnr(${WORK} out peer 135x86+8+8 40)
