# The IFS road headlessly: a PNG saved as .IFS, opened at scale 2, enlarged by IFS and
# reopened from the temporary file (scale 2 each), saved as a PNG, and compared with an
# independent tool's enlargement of the same picture by 4.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

execute_process(COMMAND ${CONVERT} -size 48x36 -seed 3 plasma:green-yellow -blur 0x2
                        -depth 8 PNG24:${WORK}/in.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the input picture")
endif()

set(IN ${WORK}/in.png)
set(OUT ${WORK}/out.png)
zep_run_configured(${SCRIPT} ifs)

execute_process(COMMAND ${CONVERT} ${WORK}/out.png -format "%w %h" info: OUTPUT_VARIABLE size)
if(NOT size STREQUAL "192 144")
  message(FATAL_ERROR "zep-run wrote ${size}, not 192 x 144")
endif()
execute_process(COMMAND ${CONVERT} ${WORK}/in.png -filter Lanczos -resize 400% -depth 8
                        PNG24:${WORK}/peer.png RESULT_VARIABLE rc)
zep_expect_psnr(${WORK} out peer 176x128+8+8 25)
