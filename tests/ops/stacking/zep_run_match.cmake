# Layer matching headlessly through zep-run, file to file: the picture is copied into a
# second layer, the copy darkened (by half, or by a gamma of 2), and each "Match Top to
# Bottom" command must bring it back to the picture. Prints SKIP (the test counts as
# skipped) when the picture tools are missing.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/peer_compare.cmake)
zep_peer_start()

execute_process(COMMAND ${CONVERT} -size 131x97 -seed 7 plasma:orange-navy -blur 0x1
                        -depth 8 PNG24:${WORK}/in.png RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not make the input picture")
endif()

# One window per match: the picture in the bottom layer, its darkened copy on top.
set(script "new\nset autoQuery False\nset conditional False\n")
foreach(darken half gamma)
  if(darken STREQUAL "half")
    set(darkening "set multiplyDivideConstant 0.5\ncommand MultiplyDivideByConstant\nf2\n")
  else()
    set(darkening "set gamma 2\ncommand GammaAdjustment\nf2\n")
  endif()
  set(prefix "open ${WORK}/in.png\ncommand ExchangeLayers\ncommand TopLayerEqualsBottomLayer\n")
  string(APPEND script "${prefix}${darkening}save ${WORK}/${darken}-none.png\n")
  foreach(match LsMatch2 LsMatch1 LadMatch1 MatchLevels WaveletMatch)
    string(APPEND script "${prefix}${darkening}command ${match}\n")
    string(APPEND script "save ${WORK}/${darken}-${match}.png\n")
  endforeach()
endforeach()
string(APPEND script "quit\n")
file(WRITE ${WORK}/match.zep.in "${script}")
zep_run_configured(${WORK}/match.zep.in match)

# psnr_<name>: the PSNR of <name>.png against the picture, 1000 for equal ones.
function(psnr name)
  execute_process(COMMAND ${COMPARE} -metric PSNR ${WORK}/${name}.png ${WORK}/in.png null:
                  ERROR_VARIABLE text)
  string(REGEX MATCH "^[0-9.]+|^inf" value "${text}")
  if(value STREQUAL "inf")
    set(value 1000)
  endif()
  if(value STREQUAL "")
    message(FATAL_ERROR "${name}.png: compare said ${text}")
  endif()
  message("${name}.png: ${value} dB")
  set(psnr_${name} ${value} PARENT_SCOPE)
endfunction()

foreach(darken half gamma)
  psnr(${darken}-none)
  foreach(match LsMatch2 LsMatch1 LadMatch1 MatchLevels WaveletMatch)
    psnr(${darken}-${match})
  endforeach()
endforeach()

function(expect_at_least name floor)
  if(psnr_${name} LESS ${floor})
    message(FATAL_ERROR "${name}.png: ${psnr_${name}} dB, below ${floor} dB")
  endif()
endfunction()
# Halving is a gain every match undoes; 8-bit rounding of the result costs at most a level.
expect_at_least(half-LsMatch2 45)
expect_at_least(half-LsMatch1 45)
expect_at_least(half-LadMatch1 45)
expect_at_least(half-WaveletMatch 40)
expect_at_least(half-MatchLevels 40)
# A gamma is a monotone map the levels match follows and a straight line does not.
expect_at_least(gamma-MatchLevels 40)
if(NOT psnr_gamma-MatchLevels GREATER psnr_gamma-LsMatch2)
  message(FATAL_ERROR "the levels match is no closer than LS after a gamma")
endif()
foreach(darken half gamma)
  if(NOT psnr_${darken}-none LESS 25)
    message(FATAL_ERROR "the darkened picture is too close to the picture already")
  endif()
endforeach()
