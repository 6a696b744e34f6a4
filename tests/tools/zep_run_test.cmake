# Runs zep-run scripts and checks what they print and write.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)

# New window, poke autoQuery off, toggle it back with Ctrl+Q, print status, quit.
file(WRITE ${WORK}/basic.zep "# a first script
new
poke 19520 i32 77
poke 2 u8 0
command 4042
status
command 4158
quit
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/basic.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "basic script failed (${rc}): ${out} ${err}")
endif()
foreach(expected "pane 0: Dimensions" "pane 5: Elapsed Time" "[message: Memory Status]")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing '${expected}' in: ${out}")
  endif()
endforeach()
file(SIZE ${WORK}/home/zep.ini size)
if(NOT size EQUAL 19544)
  message(FATAL_ERROR "zep.ini is ${size} bytes")
endif()
file(READ ${WORK}/home/zep.ini bytes OFFSET 19520 LIMIT 4 HEX)
if(NOT bytes STREQUAL "4d000000")
  message(FATAL_ERROR "scroll amount at 19520 is ${bytes}")
endif()
file(READ ${WORK}/home/zep.ini bytes OFFSET 2 LIMIT 1 HEX)
if(NOT bytes STREQUAL "01")
  message(FATAL_ERROR "autoQuery at 2 is ${bytes} after Ctrl+Q")
endif()

# F2 re-sends the current operation, taken from the operation list by a new window:
# Automatic Query toggled three times.
file(WRITE ${WORK}/f2.zep "poke 16 i32 4042
poke 116 i32 0
poke 2 u8 1
new
f2
f2
f3
quit
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/f2.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ ${WORK}/home/zep.ini bytes OFFSET 2 LIMIT 1 HEX)
if(NOT rc EQUAL 0 OR NOT bytes STREQUAL "01")
  message(FATAL_ERROR "f2 script: ${rc} ${err}, autoQuery ${bytes}")
endif()

# A script that must stop with an error naming its line.
function(expect_stop name script pattern)
  file(WRITE ${WORK}/${name}.zep "${script}")
  execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/${name}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: ${rc} ${err}")
  endif()
endfunction()

# A bad statement stops the run with its line number.
expect_stop(bad "new\nfrobnicate\n" "line 2: unknown statement frobnicate")
expect_stop(poke "poke 19543 i32 1\n" "line 1: poke past the end")
# A file dialog the script did not answer stops the run.
expect_stop(unanswered "new\ncommand 4000\n" "line 2: the open dialog has no file answer")

# Files: open a PNG, save it as JPEG, FDIB and BMP, open each again; the titles give the
# sizes in KB. A file that cannot be read leaves the title as it was.
string(REPEAT "x" 1000000 million)
file(WRITE ${WORK}/million.dat "${million}")
file(WRITE ${WORK}/files.zep "new
open ${TESTDATA}/pngsuite/basn2c08.png
save ${WORK}/out.jpg
save ${WORK}/out.fdib
save ${WORK}/out.bmp
open ${WORK}/out.jpg
open ${WORK}/out.fdib
open ${WORK}/out.bmp
status
open ${WORK}/million.dat
quit
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/files.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "files script failed (${rc}): ${out} ${err}")
endif()
file(SIZE ${WORK}/out.fdib fdib)
file(SIZE ${WORK}/out.bmp bmp)
file(SIZE ${WORK}/out.jpg jpg)
# 32 x 32 RGB: the FDIB header and three planes of floats; the BMP 54 header bytes and
# 96-byte rows.
if(NOT fdib EQUAL 12304 OR NOT bmp EQUAL 3126 OR jpg LESS 100)
  message(FATAL_ERROR "saved sizes: fdib ${fdib}, bmp ${bmp}, jpg ${jpg}")
endif()
foreach(expected "[title] ${TESTDATA}/pngsuite/basn2c08.png  ( "
                 "[title] ${WORK}/out.fdib  ( 12.304 KB )"
                 "[title] ${WORK}/out.bmp  ( 3.126 KB )"
                 "pane 0:   32 X 32"
                 "Load image failed:\n2 - The format of the file is not supported.")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing '${expected}' in: ${out}")
  endif()
endforeach()
string(FIND "${out}" "[title] ${WORK}/million.dat" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "a failed open changed the title: ${out}")
endif()

# A program of two operations recorded in one run, saved, loaded in a new run and
# replayed gives the same picture.
file(WRITE ${WORK}/record.zep "new
open ${TESTDATA}/pngsuite/basn2c08.png
poke 2 u8 0
command 4120
ctrl
command 4007
f2
ctrl
command 4006
f2
command 4120
answer file ${WORK}/two.ZEP
command 4129
save ${WORK}/recorded.png
quit
")
file(WRITE ${WORK}/replay.zep "new
open ${TESTDATA}/pngsuite/basn2c08.png
poke 2 u8 0
answer file ${WORK}/two.ZEP
command 4130
command 4121
save ${WORK}/replayed.png
quit
")
foreach(script record replay)
  execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/program-home ${WORK}/${script}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${script}: ${rc} ${out} ${err}")
  endif()
endforeach()
file(SIZE ${WORK}/two.ZEP size)
if(NOT size EQUAL 16680)
  message(FATAL_ERROR "program file is ${size} bytes")
endif()
file(SHA256 ${WORK}/recorded.png recorded)
file(SHA256 ${WORK}/replayed.png replayed)
file(SHA256 ${TESTDATA}/pngsuite/basn2c08.png original)
if(NOT recorded STREQUAL replayed OR recorded STREQUAL original)
  message(FATAL_ERROR "the replayed program gave another picture")
endif()

# Batch: three files picked as a, b, c are worked through as b, c, a and saved with the
# suffix; a batch whose outputs would land on its inputs stops before touching them.
file(MAKE_DIRECTORY ${WORK}/batch)
file(WRITE ${WORK}/batch.zep "new
open ${TESTDATA}/pngsuite/basn2c08.png
save ${WORK}/batch/a.png
save ${WORK}/batch/b.png
save ${WORK}/batch/c.png
poke 149 str .0
answer files ${WORK}/batch/a.png ${WORK}/batch/b.png ${WORK}/batch/c.png
command 4026
status
poke 149 str
answer files ${WORK}/batch/a.0.PNG ${WORK}/batch/b.0.PNG
command 4026
quit
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/batch.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "batch script failed (${rc}): ${out} ${err}")
endif()
# Each text must come after the one before it.
set(rest "${out}")
foreach(expected "[properties: page 5]" "[properties: page 2]" "[open dialog for several files]"
                 "[title] ${WORK}/batch/b.png" "[title] ${WORK}/batch/c.png"
                 "[title] ${WORK}/batch/a.png"
                 "[message] The batch would write over ${WORK}/batch/b.0.PNG")
  string(FIND "${rest}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${expected}' missing or out of order in: ${out}")
  endif()
  string(LENGTH "${expected}" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
foreach(name a b c)
  if(NOT EXISTS ${WORK}/batch/${name}.0.PNG)
    message(FATAL_ERROR "the batch did not write ${name}.0.PNG: ${out}")
  endif()
endforeach()
