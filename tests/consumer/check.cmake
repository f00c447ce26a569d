# SPDX-License-Identifier: MIT
# Builds the consumer project and checks the helper's build steps:
#
#   cmake -DSOURCE=<tests/consumer> -DBUILD=<scratch dir> -DGENERATOR=<generator> -DCONFIG=<config>
#         (-DPREFIX=<installed prefix> [-DTOOLCHAIN=<file> -DEMULATOR=<program>] | -DFETCH=<bytetab source>)
#         -P check.cmake
#
# PREFIX: the consumer finds the installed package through CMAKE_PREFIX_PATH.
# With TOOLCHAIN it is cross-built, finds the package through bytetab_DIR and
# runs its test through EMULATOR; the installed include folder then gets a
# stdio.h that stops the build if the target's compiler reads it. FETCH: it
# fetches bytetab with FetchContent from a throwaway git repository of the
# files git knows in FETCH (tracked, and new ones not ignored), with
# GoogleTest's package disabled; where FETCH is not a git work tree the case
# reports itself skipped.
#
# The consumer is copied into BUILD so that its input can be touched. Then:
# 1. The first build converts the three headers quietly: the "Converting"
#    lines, for each LOSSY one the tool's warning about bytes above 0x7F on a
#    line of its own, naming the input as the call gave it, and nothing else
#    from the tool. The consumer's test passes and is its only one.
# 2. A second build converts nothing.
# 3. Touching an input converts its headers again, and touching the tool
#    converts all three.
# 4. A header that cannot be written fails the build, with the tool's message
#    at the start of a line.
cmake_minimum_required(VERSION 3.25)

set(src "${BUILD}/src")
set(bin "${BUILD}/build")
set(options -DCMAKE_BUILD_TYPE=${CONFIG})

if(DEFINED FETCH)
  find_program(git git)
  if(git)
    execute_process(COMMAND "${git}" rev-parse --is-inside-work-tree WORKING_DIRECTORY "${FETCH}"
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT git OR NOT status EQUAL 0)
    message("skipped: ${FETCH} is not a git work tree")
    return()
  endif()
endif()

file(REMOVE_RECURSE "${BUILD}")
file(COPY "${SOURCE}/" DESTINATION "${src}")

if(DEFINED FETCH)
  set(repo "${BUILD}/repo")
  execute_process(COMMAND "${git}" -c core.quotePath=false ls-files --cached --others --exclude-standard
                  WORKING_DIRECTORY "${FETCH}" OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE ";" "\\;" listing "${listing}")
  string(REPLACE "\n" ";" listing "${listing}")
  foreach(rel IN LISTS listing)
    if(rel MATCHES "^\"")
      message(FATAL_ERROR "cannot handle the file name ${rel} (quoted by git)")
    endif()
    # Listed but deleted in the work tree: left out, as a commit would.
    if(NOT rel STREQUAL "" AND EXISTS "${FETCH}/${rel}")
      get_filename_component(dir "${repo}/${rel}" DIRECTORY)
      file(COPY "${FETCH}/${rel}" DESTINATION "${dir}")
    endif()
  endforeach()
  # No hooks of the user's run in the throwaway repository.
  set(commit "${git}" -c user.name=test -c user.email=test@localhost -c commit.gpgsign=false
             -c core.hooksPath=no-hooks commit -q --no-verify -m "The work tree under test")
  execute_process(COMMAND "${git}" init -q WORKING_DIRECTORY "${repo}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${git}" add . WORKING_DIRECTORY "${repo}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${commit} WORKING_DIRECTORY "${repo}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${git}" rev-parse HEAD WORKING_DIRECTORY "${repo}" OUTPUT_VARIABLE tag
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # BUILD_TESTING as a project with tests of its own has it: bytetab's must
  # stay out all the same.
  list(APPEND options -DBYTETAB_FETCH=${repo} -DBYTETAB_FETCH_TAG=${tag} -DBUILD_TESTING=ON
       -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
  set(tool "${bin}/_deps/bytetab-src/src/bytetab.cpp")
elseif(DEFINED TOOLCHAIN)
  # The installed include folder stands for the build machine's own
  # (/usr/include): a C header there must not reach the target's compiler.
  file(WRITE "${PREFIX}/include/stdio.h" "#error the build machine's include folder is on the target's path\n")
  list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dbytetab_DIR=${PREFIX}/lib/cmake/bytetab
       -DCMAKE_CROSSCOMPILING_EMULATOR=${EMULATOR})
  set(tool "${PREFIX}/bin/bytetab")
else()
  list(APPEND options -DCMAKE_PREFIX_PATH=${PREFIX})
  set(tool "${PREFIX}/bin/bytetab")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -S "${src}" -B "${bin}" -G "${GENERATOR}" --no-warn-unused-cli ${options}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

# Builds the consumer and leaves the build's output in `log`; stops unless
# the build ended as `expected` (0 or "failure").
function(build step expected)
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${bin}" --config "${CONFIG}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT status EQUAL 0 AND expected STREQUAL "failure")
    set(status failure)
  endif()
  if(NOT status STREQUAL expected)
    message(FATAL_ERROR "${step}: the build ended with ${status}, not ${expected}:\n${log}")
  endif()
  set(log "${log}" PARENT_SCOPE)
endfunction()

# Stops unless the build converted `expected` headers.
function(converted step expected)
  string(REGEX MATCHALL "Converting assets/(sprite|tiles)\\.bin into (sprite_bin|sprite|tiles_bin)\\.h" lines "${log}")
  list(LENGTH lines n)
  if(NOT n EQUAL expected)
    message(FATAL_ERROR "${step}: ${n} conversions, not ${expected}:\n${log}")
  endif()
endfunction()

# Touches a file a second after whatever came before it, so that its time
# is later than theirs on a file system of coarse timestamps too.
function(touch file)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 1)
  file(TOUCH "${file}")
endfunction()

build("first build" 0)
converted("first build" 3)
set(warning "bytetab: warning: assets/sprite\\.bin: 540 bytes above 0x7F were stored without bit 7 \\(0xFF as 0x00\\)\n")
string(REGEX MATCHALL "(^|\n)${warning}" warnings "${log}")
list(LENGTH warnings n)
if(NOT n EQUAL 2 OR log MATCHES "Done\\.|Cannot |Usage:")
  message(FATAL_ERROR "first build: not the conversions' warnings alone, each on a line:\n${log}")
endif()

execute_process(COMMAND "${CMAKE_CTEST_COMMAND}" -C "${CONFIG}" --output-on-failure WORKING_DIRECTORY "${bin}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "out of 1\n")
  message(FATAL_ERROR "the consumer's test failed, or it has others:\n${out}")
endif()

build("second build" 0)
converted("second build, nothing changed" 0)

touch("${src}/assets/sprite.bin")
build("input touched" 0)
converted("input touched" 2)

touch("${tool}")
build("tool touched" 0)
converted("tool touched" 3)

set(header "${bin}/bytetab/consumer/tokens/sprite.h")
file(REMOVE "${header}")
file(MAKE_DIRECTORY "${header}")
touch("${src}/assets/sprite.bin")
build("header not writable" failure)
file(REMOVE_RECURSE "${header}")
if(NOT log MATCHES "(^|\n)Cannot create sprite\\.h!\n")
  message(FATAL_ERROR "header not writable: the tool's message is not on a line of its own:\n${log}")
endif()
message(STATUS "converted quietly, again only when the input or the tool changed, and failed visibly")
