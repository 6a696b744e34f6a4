# An enlargement family headlessly: the script opens a PNG, enlarges it on the float path
# (out.png, SIZE) and on the bitmap path in strips (out2.png, SIZE2), and each result is
# compared with an independent tool's enlargement of the picture. Nothing may be left in
# the program directory but the settings file.
include(${CMAKE_CURRENT_LIST_DIR}/../support/peer_compare.cmake)
zep_peer_start()

execute_process(COMMAND ${CONVERT} -size 48x36 -seed 5 plasma:orange-navy -blur 0x1.2
                        -depth 8 PNG24:${WORK}/in.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the input picture")
endif()

set(IN ${WORK}/in.png)
set(OUT ${WORK}/out.png)
set(OUT2 ${WORK}/out2.png)
zep_run_configured(${SCRIPT} enlarge)

foreach(pair "out;${SIZE}" "out2;${SIZE2}")
  list(GET pair 0 name)
  list(GET pair 1 want)
  execute_process(COMMAND ${CONVERT} ${WORK}/${name}.png -format "%wx%h" info:
                  OUTPUT_VARIABLE size)
  if(NOT size STREQUAL want)
    message(FATAL_ERROR "zep-run wrote ${name}.png of ${size}, not ${want}")
  endif()
  string(REPLACE "x" ";" wh ${want})
  list(GET wh 0 w)
  list(GET wh 1 h)
  math(EXPR scale "100 * ${w} / 48")
  execute_process(COMMAND ${CONVERT} ${WORK}/in.png -filter Lanczos -resize ${scale}%
                          -depth 8 PNG24:${WORK}/peer-${name}.png RESULT_VARIABLE rc)
  math(EXPR iw "${w} - 16")
  math(EXPR ih "${h} - 16")
  zep_expect_psnr(${WORK} ${name} peer-${name} ${iw}x${ih}+8+8 28)
endforeach()

file(GLOB_RECURSE left RELATIVE ${WORK}/home ${WORK}/home/*)
list(REMOVE_ITEM left zep.ini)
if(left)
  message(FATAL_ERROR "left in the program directory: ${left}")
endif()
