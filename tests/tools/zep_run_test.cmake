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

# A bad statement stops the run with its line number.
file(WRITE ${WORK}/bad.zep "new\nfrobnicate\n")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/bad.zep
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "line 2: unknown statement frobnicate")
  message(FATAL_ERROR "bad script: ${rc} ${err}")
endif()
file(WRITE ${WORK}/poke.zep "poke 19543 i32 1\n")
execute_process(COMMAND ${ZEP_RUN} --home ${WORK}/home ${WORK}/poke.zep
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "line 1: poke past the end")
  message(FATAL_ERROR "poke past the end: ${rc} ${err}")
endif()
