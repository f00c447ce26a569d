# SPDX-License-Identifier: MIT
# Runs the decoder on a CPU under a simulator: writes sample.bin and
# expected.h with SAMPLE, converts sample.bin with the built TOOL, builds
# target.c with CC (with sdcc, and outofline.c) and runs it under SIM, which
# must print "decode: pass" (and exit 0 where the simulator passes main's
# status on). Then, on the simulators that count cycles, prints the cycles
# per byte that bytetab_decode takes for a long run and for single bytes
# (cycles.c).
# With ASM, the assembly bytetab_decode for the CPU, the same programs run
# again with it (-DBYTETAB_ASM), and its size and cycles per byte must meet
# GOALS, "bytes run singles": on the AVR a second set for bytetab_decode_P,
# with the tokens in flash, where the first is for tokens in RAM (on an
# ATmega1284P, whose RAM holds them).
#   cmake -DCPU=m0|avr|z80|sm83|6502 -DCC=... -DSIM=... -DTOOL=... -DSAMPLE=...
#         -DINCLUDE=dir [-DSIMAVR=dir] [-DASM=file -DGOALS=...] -DOUT=dir -P simulate.cmake
# CPU m0: arm-none-eabi-gcc and qemu-system-arm -M microbit, with newlib's
# semihosting; avr: avr-gcc and simavr (the ATmega328P), with simavr's
# avr_mcu_section.h in SIMAVR; z80 and sm83: sdcc and ucsim's sz80; 6502: cl65 and
# sim65. Prints "skipped: ..." where a part is missing.
set(here ${CMAKE_CURRENT_LIST_DIR})
if(NOT EXISTS "${SIM}")
  message("skipped: the simulator for the ${CPU} not found")
  return()
endif()
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})

# Runs a command in OUT; its output, standard output and error together, is
# left in `output`, its exit status in `status`.
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${OUT} TIMEOUT 60 INPUT_FILE ${input}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(status "${status}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()
# Builds with a command, which must succeed.
function(build)
  list(JOIN ARGN " " shown)
  message("${shown}")
  run(${ARGN})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${output}the build failed")
  endif()
endfunction()

set(input /dev/null)
set(strict -std=c99 -pedantic -Wall -Wextra -Werror)
set(where -I${OUT} -I${INCLUDE})
if(CPU STREQUAL "m0")
  execute_process(COMMAND ${CC} -print-file-name=rdimon.specs OUTPUT_VARIABLE specs OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${specs}")
    message("skipped: newlib's rdimon.specs not found (libnewlib-arm-none-eabi)")
    return()
  endif()
  set(flags -mcpu=cortex-m0 -mthumb -Os ${strict} --specs=rdimon.specs -nostartfiles -T ${here}/m0.ld ${where}
            ${here}/m0start.c)
  set(simulate ${SIM} -M microbit -display none -monitor none -serial none
               -semihosting-config enable=on,target=native -kernel)
elseif(CPU STREQUAL "avr")
  if(NOT EXISTS "${SIMAVR}/avr_mcu_section.h")
    message("skipped: simavr's avr_mcu_section.h not found (libsimavr-dev)")
    return()
  endif()
  # The .mmcu section that tells simavr the MCU goes where simavr's own
  # examples put it: left to the linker, it lands between .text and .data,
  # and simavr loads .data wrongly.
  set(flags -Os ${strict} -I${SIMAVR} -Wl,--section-start=.mmcu=0x910000 ${where})
  set(simulate ${SIM})
elseif(CPU MATCHES "^(z80|sm83)$")
  # ucsim's -G reads commands from standard input as well, and quits early
  # on some; the commands given there instead run to the HALT that sdcc's
  # start-up code reaches after main, and print the cycle count.
  file(WRITE ${OUT}/commands "run\nstate\nquit\n")
  set(input ${OUT}/commands)
  set(flags -m${CPU} --std-c99 --Werror --opt-code-size ${where})
  if(CPU STREQUAL "z80")
    set(simulate ${SIM} -I if=outputs[0xFE] -c -)
  else()
    set(simulate ${SIM} -t LR35902 -I if=xram[0xFF7F] -c -)
    # ucsim times the SM83 as a Z80 (inc de 6 clocks, push 11) and the
    # instructions the Z80 lacks as 1 (ld (hl+),a), so its count is not the
    # SM83's: cycles.c runs instead a step at a time, and sm83clocks adds up
    # the clocks of each instruction in the history that ucsim lists.
    string(REPEAT "history clear\nstep 9000\nhistory list 9000\n" 60 steps)
    file(WRITE ${OUT}/history "${steps}quit\n")
  endif()
else()
  set(flags -t sim6502 -O -W error ${where})
  set(simulate ${SIM} -c) # -c: print the cycle count
endif()

# Builds `source` with the defines that follow into OUT/name and runs it;
# with sdcc, linked with `outofline`, built below; with `objects`, linked
# with those too.
function(simulate name source)
  if(CPU MATCHES "^(z80|sm83)$")
    build(${CC} ${flags} ${ARGN} -c ${source} -o ${OUT}/${name}.rel)
    build(${CC} -m${CPU} ${OUT}/${name}.rel ${outofline} ${objects} -o ${OUT}/${name}.ihx)
    set(program ${name}.ihx)
  elseif(CPU STREQUAL "6502")
    build(${CC} ${flags} ${ARGN} -c -o ${OUT}/${name}.o ${source}) # cl65 would leave the object beside the source
    build(${CC} -t sim6502 -o ${OUT}/${name} ${OUT}/${name}.o ${objects})
    set(program ${name})
  elseif(CPU STREQUAL "avr")
    build(${CC} -mmcu=${mcu} ${flags} ${ARGN} ${source} ${objects} -o ${OUT}/${name}.elf)
    set(program ${name}.elf)
  else()
    build(${CC} ${flags} ${ARGN} ${source} ${objects} -o ${OUT}/${name}.elf)
    set(program ${name}.elf)
  endif()
  run(${simulate} ${program})
  if(status STREQUAL "Process terminated due to timeout")
    message(FATAL_ERROR "${output}${name}: no end after 60 seconds")
  endif()
  set(status "${status}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

# target.c with the defines given, which must pass.
function(decodes)
  simulate(target ${here}/target.c ${ARGN})
  message("${output}")
  if(NOT output MATCHES "decode: pass" OR (CPU MATCHES "^(m0|6502)$" AND NOT status EQUAL 0))
    message(FATAL_ERROR "the decoder failed on the ${CPU} (exit status ${status}) with ${ARGN}")
  endif()
endfunction()

# The SM83 clocks, in `var`, of the instructions that ucsim's history
# listings in `listing` show, up to the HALT that ends the program (empty if
# none does): the M-cycles of each opcode, 4 clocks each, that of a
# conditional branch not taken, with those in `taken` added where the next
# instruction is not the one after it; after CB, 2, or 4 on (HL) (BIT: 3).
function(sm83clocks var listing)
  string(CONCAT mcycles "1322112152221121132211213222112123221121222211212322333122221121"
                "1111112111111121111111211111112111111121111111212222221211111121"
                "1111112111111121111111211111112111111121111111211111112111111121"
                "2334342424313624233134242431312433211424414111243321142432411124")
  string(CONCAT taken "0000000000000000000000000000000010000000100000001000000010000000"
                "0000000000000000000000000000000000000000000000000000000000000000"
                "0000000000000000000000000000000000000000000000000000000000000000"
                "3010300030103000301030003010300000000000000000000000000000000000")
  string(REGEX MATCHALL "\n0x[0-9a-f]+ [ F?]* [0-9a-f][0-9a-f]( [0-9a-f][0-9a-f])*" lines "${listing}")
  set(m 0)
  set(next 0)
  set(extra 0)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "0x([0-9a-f]+) [ F?]* (([0-9a-f][0-9a-f]) ?([0-9a-f]?[0-9a-f]?).*)" line "${line}")
    math(EXPR address "0x${CMAKE_MATCH_1}")
    if(NOT address EQUAL next)
      math(EXPR m "${m} + ${extra}")
    endif()
    set(op ${CMAKE_MATCH_3})
    if(op STREQUAL "76")
      math(EXPR m "${m} * 4")
      set(${var} ${m} PARENT_SCOPE)
      return()
    elseif(op STREQUAL "cb")
      set(c 2)
      if(CMAKE_MATCH_4 MATCHES "^[4-7][6e]$")
        set(c 3)
      elseif(CMAKE_MATCH_4 MATCHES "[6e]$")
        set(c 4)
      endif()
      set(extra 0)
    else()
      math(EXPR i "0x${op}")
      string(SUBSTRING "${mcycles}" ${i} 1 c)
      string(SUBSTRING "${taken}" ${i} 1 extra)
    endif()
    math(EXPR m "${m} + ${c}")
    string(LENGTH "${CMAKE_MATCH_2}" n)
    math(EXPR next "${address} + (${n} + 1) / 3")
  endforeach()
  set(${var} "" PARENT_SCOPE)
endfunction()

# The cycles per byte of bytetab_decode over cycles.c's 1024 bytes, with the
# defines given, in per_RUN and per_SINGLES, in tenths (all_RUN and
# all_SINGLES: the cycles of the whole call): on the AVR what Timer
# 1 counted, elsewhere what the simulator counted less the count of the
# program without the call. qemu counts no cycles, so the M0 has none.
function(cycles)
  if(CPU STREQUAL "sm83")
    set(input ${OUT}/history)
  endif()
  foreach(variant NONE RUN SINGLES)
    simulate(cycles ${here}/cycles.c -D${variant} ${ARGN})
    if(CPU STREQUAL "avr")
      string(REGEX MATCH "cycles ([0-9]+)" found "${output}")
    elseif(CPU STREQUAL "6502")
      string(REGEX MATCH "([0-9]+) cycles" found "${output}")
    elseif(CPU STREQUAL "sm83")
      sm83clocks(found "${output}")
      set(CMAKE_MATCH_1 ${found})
    else()
      string(REGEX MATCH "\\(([0-9]+) clks\\)" found "${output}")
    endif()
    set(cycles_${variant} ${CMAKE_MATCH_1})
    if(NOT found OR NOT status EQUAL 0)
      message(FATAL_ERROR "${output}no cycle count from cycles.c -D${variant} ${ARGN}")
    endif()
  endforeach()
  foreach(variant RUN SINGLES)
    if(CPU STREQUAL "avr")
      set(cycles ${cycles_${variant}})
    else()
      math(EXPR cycles "${cycles_${variant}} - ${cycles_NONE}")
    endif()
    math(EXPR tenths "${cycles} * 10 / 1024")
    set(per_${variant} ${tenths} PARENT_SCOPE)
    set(all_${variant} ${cycles} PARENT_SCOPE)
  endforeach()
endfunction()

# n tenths as a decimal.
function(decimal var n)
  math(EXPR whole "${n} / 10")
  math(EXPR tenth "${n} % 10")
  set(${var} "${whole}.${tenth}" PARENT_SCOPE)
endfunction()

# The functions out of line, which every program links with under sdcc; with
# the assembly bytetab_decode, all but that one.
if(CPU MATCHES "^(z80|sm83)$")
  set(outofline ${OUT}/outofline.rel)
  build(${CC} ${flags} -c ${here}/outofline.c -o ${outofline})
  if(ASM)
    build(${CC} ${flags} -DBYTETAB_ASM -c ${here}/outofline.c -o ${OUT}/outofline.asm.rel)
  endif()
endif()
run(${SAMPLE} ${OUT})
run(${TOOL} sample.bin)
if(NOT status EQUAL 0 OR NOT EXISTS ${OUT}/sample.bin.h)
  message(FATAL_ERROR "${output}bytetab sample.bin failed")
endif()
set(mcu atmega328p)
set(objects "")
decodes()
if(NOT CPU STREQUAL "m0")
  cycles()
  decimal(run ${per_RUN})
  decimal(singles ${per_SINGLES})
  message("bytetab_decode on the ${CPU}, cycles per byte: ${run} in a long run, ${singles} in single bytes")
endif()
if(NOT ASM)
  return()
elseif(NOT EXISTS "${ASM}")
  message(FATAL_ERROR "${ASM} not found")
endif()

# The assembly version: assembled on its own, so that its code size is that
# of its object (with sdcc, of its code area; with cc65, of the segments that
# go to ROM; with gcc, of its functions, each of which it sizes with .size).
get_filename_component(bin ${CC} DIRECTORY)
if(CPU MATCHES "^(z80|sm83)$")
  set(as sdasz80)
  if(CPU STREQUAL "sm83")
    set(as sdasgb)
  endif()
  set(object ${OUT}/asm.rel)
  build(${bin}/${as} -plosgff ${object} ${ASM})
  file(STRINGS ${object} area REGEX "^A _CODE size [0-9A-F]+ ")
  string(REGEX REPLACE "^A _CODE size ([0-9A-F]+) .*" "\\1" area "${area}")
  math(EXPR size "0x${area}")
  set(sizes bytetab_decode ${size})
elseif(CPU STREQUAL "6502")
  set(object ${OUT}/asm.o)
  build(${bin}/ca65 -o ${object} ${ASM})
  execute_process(COMMAND ${bin}/od65 --dump-segsize ${object} OUTPUT_VARIABLE segments COMMAND_ERROR_IS_FATAL ANY)
  set(size 0)
  string(REGEX MATCHALL "(CODE|RODATA|DATA): *[0-9]+" segments "${segments}") # not the RAM it reserves
  foreach(segment IN LISTS segments)
    string(REGEX REPLACE ".*: *" "" bytes "${segment}")
    math(EXPR size "${size} + ${bytes}")
  endforeach()
  set(sizes bytetab_decode ${size})
else()
  string(REGEX REPLACE "gcc$" "nm" nm ${CC})
  set(object ${OUT}/asm.o)
  if(CPU STREQUAL "avr")
    build(${CC} -mmcu=atmega328p -c ${ASM} -o ${object})
  else()
    build(${CC} -mcpu=cortex-m0 -mthumb -c ${ASM} -o ${object})
  endif()
  execute_process(COMMAND ${nm} -S ${object} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  set(sizes "")
  foreach(name bytetab_decode bytetab_decode_P)
    if(symbols MATCHES "[0-9a-f]+ ([0-9a-f]+) [tT] ${name}\n")
      math(EXPR size "0x${CMAKE_MATCH_1}")
      list(APPEND sizes ${name} ${size})
    endif()
  endforeach()
endif()
set(objects ${object})
set(outofline ${OUT}/outofline.asm.rel)
separate_arguments(GOALS UNIX_COMMAND "${GOALS}")

# Each entry of the assembly version against its goals: target.c passes, its
# size is at most the goal, and so are its cycles per byte.
get_filename_component(file ${ASM} NAME)
set(failures "")
set(entries bytetab_decode)
if(CPU STREQUAL "avr")
  set(entries bytetab_decode bytetab_decode_P)
endif()
foreach(entry IN LISTS entries)
  list(POP_FRONT GOALS goalsize goalrun goalsingles)
  set(mcu atmega328p)
  set(defines -DBYTETAB_ASM)
  if(entry STREQUAL "bytetab_decode" AND CPU STREQUAL "avr")
    set(mcu atmega1284p)
    list(APPEND defines -DBYTETAB_RAM)
  endif()
  list(FIND sizes ${entry} at)
  if(at LESS 0)
    message(FATAL_ERROR "${file} has no size for ${entry}")
  endif()
  math(EXPR at "${at} + 1")
  list(GET sizes ${at} size)
  decodes(${defines})
  set(said "${file} ${entry}: ${size} bytes (at most ${goalsize})")
  if(size GREATER goalsize)
    list(APPEND failures "${entry} takes ${size} bytes, more than ${goalsize}")
  endif()
  if(NOT CPU STREQUAL "m0")
    cycles(${defines})
    decimal(run ${per_RUN})
    decimal(singles ${per_SINGLES})
    string(APPEND said ", cycles per byte: ${run} in a long run (at most ${goalrun}), ${singles} in single bytes"
           " (at most ${goalsingles})")
    foreach(variant run singles)
      string(TOUPPER ${variant} upper)
      math(EXPR bound "${goal${variant}} * 1024")
      if(all_${upper} GREATER bound)
        list(APPEND failures "${entry} takes more than ${goal${variant}} cycles per byte (${variant})")
      endif()
    endforeach()
  endif()
  message("${said}")
endforeach()
if(failures)
  list(JOIN failures "; " failures)
  message(FATAL_ERROR "${file} misses its goals: ${failures}")
endif()
