# Runs zep-run scripts and checks what they print and write.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home ${WORK}/runtime)
# The runner's offscreen Qt wants a private runtime folder, or it says so on stderr.
file(CHMOD ${WORK}/runtime PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(ENV{XDG_RUNTIME_DIR} ${WORK}/runtime)

# New window, poke autoQuery off, toggle it back with Ctrl+Q, print status, quit.
file(WRITE ${WORK}/basic.zep "# a first script
new
poke 19520 i32 77
poke 2 u8 0
command AutomaticQueryOfProperties
timing
status
command CurrentMemoryStatus
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
# The command's time, and the poll gap that cannot exceed it.
if(NOT out MATCHES "time ([0-9.e-]+) s, longest poll gap ([0-9.e-]+) s")
  message(FATAL_ERROR "no timing line in: ${out}")
endif()
if(CMAKE_MATCH_2 GREATER CMAKE_MATCH_1)
  message(FATAL_ERROR "poll gap ${CMAKE_MATCH_2} above the time ${CMAKE_MATCH_1}")
endif()
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
  if(NOT rc EQUAL 1 OR NOT err MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: ${rc} ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# A bad statement stops the run with its line number, and so does a file that does not
# open: nothing after it runs.
expect_stop(missing "new\nopen ${WORK}/missing.png\nstatus\n"
            "^line 2: ${WORK}/missing.png: File Doesn't Exist\n$")
if(out MATCHES "pane 0")
  message(FATAL_ERROR "the run went on after a failed open: ${out}")
endif()
expect_stop(unwritable "new\nopen ${TESTDATA}/pngsuite/basn2c08.png\nsave ${WORK}/no/such/dir/x.png\n"
            "^line 3: ${WORK}/no/such/dir/x.png: Problem Opening File!\n$")
expect_stop(bad "new\nfrobnicate\n" "line 2: unknown statement frobnicate")
expect_stop(unnamed "new\ncommand Lanczso\n" "line 2: no command is called Lanczso")
expect_stop(poke "poke 19543 i32 1\n" "line 1: poke past the end")
# A file dialog the script did not answer stops the run.
expect_stop(unanswered "new\ncommand OpenImage\n" "line 2: the open dialog has no file answer")

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
command FileInformation
quit
")
# The file that is no image fails its line; --keep-going runs on to the end and still
# ends with a failure.
file(REMOVE ${WORK}/home/zep.ini)
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home --keep-going ${WORK}/files.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err STREQUAL "line 10: Load image failed:\n2 - The format of the file is not supported.\n"
   OR NOT EXISTS ${WORK}/home/zep.ini)
  message(FATAL_ERROR "files script (${rc}): ${out} ${err}")
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
command RecordProgram
ctrl
command Bilinear
f2
ctrl
command Lanczos
f2
command RecordProgram
answer file ${WORK}/two.ZEP
command SaveProgram
save ${WORK}/recorded.png
quit
")
file(WRITE ${WORK}/replay.zep "new
open ${TESTDATA}/pngsuite/basn2c08.png
poke 2 u8 0
answer file ${WORK}/two.ZEP
command LoadProgram
command RunProgram
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
command BatchOperation
status
poke 149 str
answer files ${WORK}/batch/a.0.PNG ${WORK}/batch/b.0.PNG
command BatchOperation
quit
")
# The refused second batch is the script's one failure.
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/batch.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "^line 12: The batch would write over ${WORK}/batch/b.0.PNG")
  message(FATAL_ERROR "batch script (${rc}): ${out} ${err}")
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

# set and get: a member of every type of the member table round-trips in the form the
# properties dialog reads, and the record holds it at the member's offset.
file(WRITE ${WORK}/set.zep "set autoQuery False
set kernelExpansionForReductions True
set stairUsesLanczos Lanczos
set animationMode Forward and Backward
set animationDelay 250
set backgroundColor[1] 200
set blurAmountForReductions 0.3
set horizontalScaleFactor 0.1
set normalizationWeight Infinity
set batchSuffix .small
get autoQuery
get kernelExpansionForReductions
get stairUsesLanczos
get animationMode
get animationDelay
get backgroundColor[1]
get blurAmountForReductions
get horizontalScaleFactor
get normalizationWeight
get batchSuffix
quit
")
file(REMOVE_RECURSE ${WORK}/set-home)
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/set-home ${WORK}/set.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "autoQuery = False
kernelExpansionForReductions = True
stairUsesLanczos = Lanczos
animationMode = Forward and Backward
animationDelay = 250
backgroundColor[1] = 200
blurAmountForReductions = 0.3
horizontalScaleFactor = 0.1
normalizationWeight = Infinity
batchSuffix = .small
")
  message(FATAL_ERROR "set and get (${rc}): ${out} ${err}")
endif()
# autoQuery at 2, animationDelay at 676, backgroundColor at 1328, horizontalScaleFactor
# (0.1 as a double) at 752, batchSuffix at 149.
foreach(check "2;1;00" "676;4;fa000000" "1329;1;c8" "752;8;9a9999999999b93f"
              "149;7;2e736d616c6c00")
  list(GET check 0 offset)
  list(GET check 1 length)
  list(GET check 2 expected)
  file(READ ${WORK}/set-home/zep.ini bytes OFFSET ${offset} LIMIT ${length} HEX)
  if(NOT bytes STREQUAL expected)
    message(FATAL_ERROR "zep.ini at ${offset}: ${bytes}, expected ${expected}")
  endif()
endforeach()

# Unknown names and refused values fail their lines and change nothing.
file(WRITE ${WORK}/refused.zep "set frobnication 1
set animationDelay -1
set animationDelay soon
set backgroundColor[1] 256
set backgroundColor 1
set backgroundColor[3] 1
set animationMode Sideways
set autoQuery 1
set horizontalScaleFactor 0
set blurAmountForReductions 1e300
set batchExtension XYZ
get nothing
get animationDelay
get animationMode
get batchExtension
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/set-home --keep-going ${WORK}/refused.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err STREQUAL "line 1: no settings member named frobnication
line 2: animationDelay does not accept -1
line 3: animationDelay takes an integer, not soon
line 4: backgroundColor[1] does not accept 256
line 5: backgroundColor is an array: name one element as backgroundColor[I]
line 6: backgroundColor has 3 elements
line 7: animationMode does not accept Sideways
line 8: autoQuery does not accept 1
line 9: horizontalScaleFactor does not accept 0
line 10: blurAmountForReductions does not accept 1e300
line 11: batchExtension does not accept XYZ
line 12: no settings member named nothing
" OR NOT out STREQUAL "animationDelay = 250
animationMode = Forward and Backward
batchExtension = PNG
")
  message(FATAL_ERROR "refused values (${rc}): ${out} ${err}")
endif()

# Animate Sequence plays a sequence of three files until the script's Escape: six frames
# in the order the sequence goes (b, c, a), then the script runs on.
file(MAKE_DIRECTORY ${WORK}/anim)
file(WRITE ${WORK}/anim.zep "set autoQuery False
set animationDelay 0
set animationMode Forward
new
open ${TESTDATA}/pngsuite/basn2c08.png
save ${WORK}/anim/a.png
save ${WORK}/anim/b.png
save ${WORK}/anim/c.png
answer files ${WORK}/anim/a.png ${WORK}/anim/b.png ${WORK}/anim/c.png
command SequentialLoad
escape after 6
command AnimateSequence
command FileInformation
status
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/anim.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "[open dialog for several files]" at)
if(NOT rc EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "animation script (${rc}): ${out} ${err}")
endif()
string(SUBSTRING "${out}" ${at} -1 rest)
string(REGEX MATCHALL "\\[title\\] [^ ]*" titles "${rest}")
string(REPLACE "[title] ${WORK}/anim/" "" titles "${titles}")
# Every open gives the title twice. The first is Sequential Load's, then six frames; the
# file information box follows the animation.
if(NOT titles STREQUAL "b.png;b.png;b.png;b.png;c.png;c.png;a.png;a.png;b.png;b.png;c.png;c.png;a.png;a.png"
   OR NOT rest MATCHES "a.png  \\( [0-9.]+ KB \\)\n\\[message: ${WORK}/anim/a.png\\]")
  message(FATAL_ERROR "animation frames ${titles} in: ${out}")
endif()

# Print Image into a PDF file, with the page the page setup confirms: rendered back by
# poppler, the picture fills the width between the margins, right way up.
# Debian's Python, which has the packages scripts/deps installs.
set(PYTHON /usr/bin/python3)
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/printed_page.py picture
                        ${WORK}/quadrants.png RESULT_VARIABLE rc)
file(WRITE ${WORK}/print.zep "new
open ${WORK}/quadrants.png
print ${WORK}/page.pdf
")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/print.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[page setup confirmed\\] paper ([0-9]+) x ([0-9]+), margins ([0-9]+) ([0-9]+) ([0-9]+) ([0-9]+),")
  message(FATAL_ERROR "print script (${rc}): ${out} ${err}")
endif()
set(page ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4} ${CMAKE_MATCH_5}
    ${CMAKE_MATCH_6})
execute_process(COMMAND pdftoppm -png -r 30 -singlefile ${WORK}/page.pdf ${WORK}/page
                RESULT_VARIABLE rc)
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/printed_page.py check ${WORK}/page.png
                        30 ${page} RESULT_VARIABLE check ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT check EQUAL 0)
  message(FATAL_ERROR "printed page (${rc}, ${check}): ${err}")
endif()
# Without a file for it, a print fails: there is no printer.
expect_stop(noprinter "new\nopen ${WORK}/quadrants.png\ncommand PrintImage\n"
            "^line 3: the print has no file answer\n$")

# --list-commands: a line for every command of the program, six tab-separated fields,
# those with a handler marked built.
execute_process(COMMAND ${ZEP_RUN} --list-commands RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "--list-commands: ${rc}")
endif()
file(READ ${COMMAND_IDS} header)
string(REGEX MATCHALL "X\\([A-Za-z0-9]+, [0-9]+\\)" ids "${header}")
list(LENGTH ids expected)
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" lines "${out}")
list(LENGTH lines count)
if(NOT count EQUAL expected)
  message(FATAL_ERROR "--list-commands lists ${count} commands, the table has ${expected}")
endif()
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[0-9]+\t[A-Za-z0-9]+\t[^\t]*\t[^\t]*\t[^\t]*\t(built|not built)$")
    message(FATAL_ERROR "--list-commands: malformed line '${line}'")
  endif()
endforeach()
# The numbers come from the header, the one place they are written.
# NoOp, the empty step, never has a handler.
foreach(row "Lanczos\tResize\tLanczos\t\tbuilt" "NoOp\t\tNoOp\t\tnot built"
            "StoreZep1Fdib\t&File/Scratch Files\tStore ZEP1.FDIB\tShift+1\tbuilt"
            "Exit\t&File\tE&xit\tShift+Esc\tbuilt")
  string(REGEX MATCH "^[A-Za-z0-9]+" name "${row}")
  string(REGEX MATCH "X\\(${name}, ([0-9]+)\\)" found "${header}")
  list(FIND lines "${CMAKE_MATCH_1}\t${row}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "--list-commands lacks '${row}'")
  endif()
endforeach()

# --threads N: a Lanczos enlargement saved as PNG and FITS is the same file with 1 and 8
# threads; a count that is not a whole number from 1 to 1024 is a usage error.
foreach(threads 1 8)
  file(WRITE ${WORK}/threads${threads}.zep "new
poke 2 u8 0
poke 784 i32 3
poke 752 f64 7.3
open ${TESTDATA}/pngsuite/basn2c16.png
command Lanczos
save ${WORK}/threads${threads}.png
save ${WORK}/threads${threads}.fits
quit
")
  execute_process(COMMAND ${ZEP_RUN} --threads ${threads} --home ${WORK}/home
                          ${WORK}/threads${threads}.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "--threads ${threads}: ${rc} ${out} ${err}")
  endif()
endforeach()
foreach(ext png fits)
  file(SHA256 ${WORK}/threads1.${ext} one)
  file(SHA256 ${WORK}/threads8.${ext} eight)
  if(NOT one STREQUAL eight)
    message(FATAL_ERROR "--threads 1 and 8 wrote different ${ext} files")
  endif()
endforeach()
foreach(bad 0 -2 1025 two 3x "")
  execute_process(COMMAND ${ZEP_RUN} --threads "${bad}" ${WORK}/threads1.zep
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 2 OR NOT err MATCHES "usage: zep-run")
    message(FATAL_ERROR "--threads '${bad}': ${rc} ${err}")
  endif()
endforeach()
execute_process(COMMAND ${ZEP_RUN} ${WORK}/threads1.zep --threads
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "usage: zep-run")
  message(FATAL_ERROR "--threads without a count: ${rc} ${err}")
endif()
