# Whole-pixel geometry, layers and rotation headlessly through zep-run, file to file,
# beside ImageMagick: each command's PNG must equal the peer's byte for byte in its
# pixels. Prints SKIP (the test counts as skipped) when the peer tools are missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

# A busy 8-bit picture of odd size, the same every run, and a square one.
execute_process(COMMAND ${CONVERT} -size 37x23 -seed 3 plasma:red-blue -depth 8
                        PNG24:${WORK}/in.png RESULT_VARIABLE rc1)
execute_process(COMMAND ${CONVERT} -size 48x48 -seed 4 plasma:green-yellow -blur 0x2 -depth 8
                        PNG24:${WORK}/square.png RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "could not make the input pictures")
endif()

# Runs the statements on IN and saves OUT.
function(run_zep name in statements)
  string(REPLACE ";" "\n" body "${statements}")
  file(WRITE ${WORK}/${name}.zep "new\nset autoQuery False\nopen ${in}\n${body}\nsave ${WORK}/${name}.png\nquit\n")
  execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/${name}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: zep-run failed (${rc}): ${out} ${err}")
  endif()
endfunction()

# The number of pixels of two pictures that differ by more than fuzz (a percentage), or
# that the sizes differ.
function(differing a b fuzz result)
  execute_process(COMMAND ${COMPARE} -metric AE -fuzz ${fuzz}% ${a} ${b} null:
                  ERROR_VARIABLE count RESULT_VARIABLE rc)
  string(STRIP "${count}" count)
  set(${result} "${count}" PARENT_SCOPE)
endfunction()

function(expect_peer name in statements)
  cmake_parse_arguments(ARG "" "FUZZ" "PEER" ${ARGN})
  if(NOT ARG_FUZZ)
    set(ARG_FUZZ 0)
  endif()
  run_zep(${name} ${in} "${statements}")
  execute_process(COMMAND ${CONVERT} ${in} ${ARG_PEER} -depth 8 PNG24:${WORK}/${name}-peer.png
                  RESULT_VARIABLE rc)
  differing(${WORK}/${name}.png ${WORK}/${name}-peer.png ${ARG_FUZZ} count)
  if(NOT count STREQUAL "0")
    message(FATAL_ERROR "${name}: ${count} pixels differ from convert ${ARG_PEER}")
  endif()
  message("${name}: equal to convert ${ARG_PEER}")
endfunction()

set(IN ${WORK}/in.png)
expect_peer(vflip ${IN} "command VerticalFlip" PEER -flip)
expect_peer(hflip ${IN} "command HorizontalFlip" PEER -flop)
expect_peer(turn ${IN} "command Rotate90Degrees" PEER -rotate -90)
expect_peer(right ${IN} "command RollRight" PEER -roll +1+0)
expect_peer(up ${IN} "command RollUp" PEER -roll +0-1)
expect_peer(left10 ${IN} "command RollLeft10;command RollDown10" PEER -roll -10+10)
# Crop at column 5, row 3 from the bottom, 20 x 10: 23 - 3 - 10 = 10 rows from the top.
expect_peer(crop ${IN} "answer text 5, 3, 20, 10;command Crop" PEER -crop 20x10+5+10 +repage)
expect_peer(fourturns ${IN}
            "command Rotate90Degrees;command Rotate90Degrees;command Rotate90Degrees;command Rotate90Degrees"
            PEER -rotate 0)

# Layers: a copy of the picture in the second layer, added and subtracted again; then the
# mean of the picture and its mirror image.
expect_peer(layers ${IN}
            "command CreateSecondLayer;command ExchangeLayers;command TopLayerEqualsBottomLayer;command AddSubtractLayers;f2;f3"
            PEER -rotate 0)
expect_peer(blend ${IN}
            "command ExchangeLayers;command TopLayerEqualsBottomLayer;command HorizontalFlip;set layerCoefficient 0.5;command InterpolateExtrapolateLayers;f2"
            PEER ( +clone -flop ) -evaluate-sequence mean FUZZ 0.4)

# Rotation by 90 degrees through the sub-pixel warp is the quarter turn, up to a grey level.
expect_peer(rotate90 ${WORK}/square.png
            "set rotationAngle 90;set rotationHorizontalOffset 0;set rotationVerticalOffset 0;command RotateArbitraryAngle"
            PEER -rotate -90 FUZZ 0.4)
