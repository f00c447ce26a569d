# The build step of bytetab_add_header:
#
#   cmake -DTOOL=<bytetab> -DINPUT=<file> -DDIR=<dir> -DNAME=<name> -P bytetabConvert.cmake
#
# Copies INPUT to DIR/NAME and runs the tool there on that bare name, so that
# it writes DIR/NAME.h with the macro NAME upper-cased; the copy is removed
# afterwards. Quiet when it works: the tool's "Done." is dropped, but its
# warning about bytes above 0x7F is passed on, as that data did not survive.
# When it fails, the tool's message stands on a line of its own and the step
# fails.
file(COPY_FILE "${INPUT}" "${DIR}/${NAME}")
execute_process(COMMAND "${TOOL}" "${NAME}" WORKING_DIRECTORY "${DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE "${DIR}/${NAME}")
string(STRIP "${err}" err)
if(NOT err STREQUAL "")
  message(NOTICE "${err}")
endif()
if(NOT status EQUAL 0)
  if(NOT out STREQUAL "")
    message(NOTICE "${out}")
  endif()
  message(FATAL_ERROR "bytetab could not convert ${INPUT} into ${DIR}/${NAME}.h (${TOOL}: ${status})")
endif()
