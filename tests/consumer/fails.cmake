# SPDX-License-Identifier: MIT
# A call of bytetab_add_header that must stop the consumer: configures it
# with -DCONSUMER_ERROR=<case> and, where that passes, builds it.
#
#   cmake -DSOURCE=<tests/consumer> -DBUILD=<scratch dir> -DGENERATOR=<generator> -DPREFIX=<installed prefix>
#         -DCASE=<case> -DEXPECT=<regex> -P fails.cmake
#
# Passes when a step failed, its output matches EXPECT (with each run of
# blanks and line ends taken as one blank, as CMake wraps its messages) and
# the case's header, bad.h, is not there.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${BUILD}")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BUILD}" -G "${GENERATOR}"
                        -DCMAKE_PREFIX_PATH=${PREFIX} -DCONSUMER_ERROR=${CASE}
                RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
set(step configure)
if(status EQUAL 0)
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
  set(step build)
endif()
string(REGEX REPLACE "[ \n]+" " " flat "${log}")
if(status EQUAL 0)
  message(FATAL_ERROR "${CASE}: configured and built:\n${log}")
elseif(NOT flat MATCHES "${EXPECT}")
  message(FATAL_ERROR "${CASE}: the ${step} step failed without the message ${EXPECT}:\n${log}")
elseif(EXISTS "${BUILD}/bytetab/consumer/bad.h")
  message(FATAL_ERROR "${CASE}: the failed build left bytetab/consumer/bad.h:\n${log}")
endif()
message(STATUS "${CASE}: the ${step} step stopped with the message")
