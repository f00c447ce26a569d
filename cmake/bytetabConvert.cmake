# SPDX-License-Identifier: MIT
# The build step of bytetab_add_header:
#
#   cmake -DTOOL=<bytetab> -DINPUT=<file> -DGIVEN=<input as the call gave it> -DDIR=<dir> -DNAME=<name>
#         -DLOSSY=<TRUE|FALSE> -P bytetabConvert.cmake
#
# Copies INPUT to DIR/tokens/NAME and runs the tool there on that bare name,
# so that it writes DIR/tokens/NAME.h with the macro NAME upper-cased; the
# copy is removed afterwards. Then writes DIR/NAME.h, which includes that
# header and defines NAME_SIZE, the decoded size: one byte for each byte of
# the input.
#
# Quiet when it works: the tool's "Done." is dropped. Bytes above 0x7F, which
# the tokens cannot keep, fail the step unless LOSSY is on; with LOSSY the
# tool's warning is passed on, naming GIVEN. Messages name the input as
# GIVEN, as the user wrote it. A failed step leaves no DIR/NAME.h, and the
# tool's message, if any, stands on a line of its own.
set(tokens "${DIR}/tokens")
file(REMOVE "${DIR}/${NAME}.h")

file(SIZE "${INPUT}" size)
if(size EQUAL 0)
  file(REMOVE "${tokens}/${NAME}.h")
  message(FATAL_ERROR "bytetab_add_header: the input ${GIVEN} is empty, and a header of no tokens, { }, "
                      "is no C array")
endif()

file(COPY_FILE "${INPUT}" "${tokens}/${NAME}")
execute_process(COMMAND "${TOOL}" "${NAME}" WORKING_DIRECTORY "${tokens}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE "${tokens}/${NAME}")
string(STRIP "${err}" err)
if(NOT status EQUAL 0)
  if(NOT err STREQUAL "")
    message(NOTICE "${err}")
  endif()
  if(NOT out STREQUAL "")
    message(NOTICE "${out}")
  endif()
  message(FATAL_ERROR "bytetab could not convert ${GIVEN} into ${DIR}/${NAME}.h (${TOOL}: ${status})")
endif()

if(err MATCHES "^bytetab: warning: ${NAME}: ([0-9]+) bytes above 0x7F")
  if(NOT LOSSY)
    file(REMOVE "${tokens}/${NAME}.h")
    message(FATAL_ERROR "bytetab_add_header: the input ${GIVEN} holds ${CMAKE_MATCH_1} bytes above 0x7F, "
                        "which the header cannot keep (they would lose bit 7, and 0xFF would become 0x00); "
                        "give the call LOSSY to accept that")
  endif()
  string(REPLACE "bytetab: warning: ${NAME}: " "bytetab: warning: ${GIVEN}: " err "${err}")
endif()
if(NOT err STREQUAL "")
  message(NOTICE "${err}")
endif()

string(TOUPPER "${NAME}" macro)
file(WRITE "${DIR}/${NAME}.h"
     "/* Made by bytetab_add_header: the tool's header, and the decoded size in bytes. */\n"
     "#include \"tokens/${NAME}.h\"\n"
     "#define ${macro}_SIZE ${size}\n")
