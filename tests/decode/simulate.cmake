# SPDX-License-Identifier: MIT
# Runs the decoder on a CPU under a simulator: writes sample.bin and
# expected.h with SAMPLE, converts sample.bin with the built TOOL, builds
# target.c with CC (with sdcc, and outofline.c) and runs it under SIM, which
# must print "decode: pass" (and exit 0 where the simulator passes main's
# status on). Then, on the simulators that count cycles, prints the cycles
# per byte that bytetab_decode takes for a long run and for single bytes
# (cycles.c).
#   cmake -DCPU=m0|avr|z80|sm83|6502 -DCC=... -DSIM=... -DTOOL=... -DSAMPLE=...
#         -DINCLUDE=dir [-DSIMAVR=dir] -DOUT=dir -P simulate.cmake
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
  set(flags -mmcu=atmega328p -Os ${strict} -I${SIMAVR} -Wl,--section-start=.mmcu=0x910000 ${where})
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
  endif()
else()
  set(flags -t sim6502 -O -W error ${where})
  set(simulate ${SIM} -c) # -c: print the cycle count
endif()

# Builds `source` with the defines that follow into OUT/name and runs it;
# with sdcc, linked with outofline.rel, built once below.
function(simulate name source)
  if(CPU MATCHES "^(z80|sm83)$")
    build(${CC} ${flags} ${ARGN} -c ${source} -o ${OUT}/${name}.rel)
    build(${CC} -m${CPU} ${OUT}/${name}.rel ${OUT}/outofline.rel -o ${OUT}/${name}.ihx)
    set(program ${name}.ihx)
  elseif(CPU STREQUAL "6502")
    build(${CC} ${flags} ${ARGN} -c -o ${OUT}/${name}.o ${source}) # cl65 would leave the object beside the source
    build(${CC} -t sim6502 -o ${OUT}/${name} ${OUT}/${name}.o)
    set(program ${name})
  else()
    build(${CC} ${flags} ${ARGN} ${source} -o ${OUT}/${name}.elf)
    set(program ${name}.elf)
  endif()
  run(${simulate} ${program})
  if(status STREQUAL "Process terminated due to timeout")
    message(FATAL_ERROR "${output}${name}: no end after 60 seconds")
  endif()
  set(status "${status}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

if(CPU MATCHES "^(z80|sm83)$")
  build(${CC} ${flags} -c ${here}/outofline.c -o ${OUT}/outofline.rel) # linked with every program
endif()
run(${SAMPLE} ${OUT})
run(${TOOL} sample.bin)
if(NOT status EQUAL 0 OR NOT EXISTS ${OUT}/sample.bin.h)
  message(FATAL_ERROR "${output}bytetab sample.bin failed")
endif()
simulate(target ${here}/target.c)
message("${output}")
if(NOT output MATCHES "decode: pass" OR (CPU MATCHES "^(m0|6502)$" AND NOT status EQUAL 0))
  message(FATAL_ERROR "the decoder failed on the ${CPU} (exit status ${status})")
endif()

# Cycles per byte: on the AVR what Timer 1 counted, elsewhere what the
# simulator counted less the count of the program without the call.
if(CPU STREQUAL "m0") # qemu counts no cycles
  return()
endif()
foreach(variant NONE RUN SINGLES)
  simulate(cycles ${here}/cycles.c -D${variant})
  if(CPU STREQUAL "avr")
    string(REGEX MATCH "cycles ([0-9]+)" found "${output}")
  elseif(CPU STREQUAL "6502")
    string(REGEX MATCH "([0-9]+) cycles" found "${output}")
  else()
    string(REGEX MATCH "\\(([0-9]+) clks\\)" found "${output}")
  endif()
  set(cycles_${variant} ${CMAKE_MATCH_1})
  if(NOT found OR NOT status EQUAL 0)
    message(FATAL_ERROR "${output}no cycle count from cycles.c -D${variant}")
  endif()
endforeach()
foreach(variant RUN SINGLES)
  if(CPU STREQUAL "avr")
    set(cycles ${cycles_${variant}})
  else()
    math(EXPR cycles "${cycles_${variant}} - ${cycles_NONE}")
  endif()
  math(EXPR whole "${cycles} / 1024")
  math(EXPR tenth "${cycles} * 10 / 1024 % 10")
  set(per_${variant} "${whole}.${tenth}")
endforeach()
message("bytetab_decode on the ${CPU}, cycles per byte: ${per_RUN} in a long run, ${per_SINGLES} in single bytes")
