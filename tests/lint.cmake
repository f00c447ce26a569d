# SPDX-License-Identifier: MIT
# Static checks of the sources, run as a script:
#
#   cmake -DSOURCE=<source root> -DBUILD=<build dir with compile_commands.json> -P tests/lint.cmake
#
# 1. clang-tidy with SOURCE/.clang-tidy: src/*.cpp through the build's
#    compile_commands.json (src/*_windows.cpp, which a native build does not
#    compile, for the MinGW target where MinGW's g++ is installed), and each
#    include/bytetab/*.h on its own as C99 and as C++17 (skipped while there
#    is none).
# 2. cppcheck on src/ and include/, with SOURCE/.cppcheck-suppressions.
# 3. clang-format --dry-run with SOURCE/.clang-format over the C and C++
#    files of src, include, tests and fuzz: the files git knows (tracked, or
#    new and not ignored) when SOURCE is a git work tree, else a glob.
# 4. Each source file of the git work tree (code, CMake, scripts, the man
#    page) names its license in an SPDX line within its first three lines:
#    0BSD for include/bytetab/decode.h and asm/, MIT for the rest.
#
# Prints nothing but a summary while all is clean; any finding makes the run
# fail, naming the tool and the file. All the checks run before it fails, so
# one run reports everything. Paths may contain blanks.

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE BUILD)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "lint: pass -D${var}=<dir> (usage: cmake -DSOURCE=<source root> -DBUILD=<build dir> -P lint.cmake)")
  endif()
  get_filename_component(${var} "${${var}}" ABSOLUTE)
  if(NOT IS_DIRECTORY "${${var}}")
    message(FATAL_ERROR "lint: ${var} is not a directory: ${${var}}")
  endif()
endforeach()

set(compdb "${BUILD}/compile_commands.json")
if(NOT EXISTS "${compdb}")
  message(FATAL_ERROR "lint: no ${compdb}; configure the build with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "
                      "(a Makefile or Ninja generator)")
endif()
foreach(config .clang-tidy .clang-format .cppcheck-suppressions)
  if(NOT EXISTS "${SOURCE}/${config}")
    message(FATAL_ERROR "lint: ${SOURCE}/${config} is missing")
  endif()
endforeach()

foreach(tool clang-tidy cppcheck clang-format)
  string(MAKE_C_IDENTIFIER "${tool}" var)
  find_program(${var}_exe NAMES ${tool} ${tool}-14 NO_CACHE)
  if(NOT ${var}_exe)
    message(FATAL_ERROR "lint: ${tool} not found (install it or put it on PATH)")
  endif()
endforeach()

set(failures "")  # "tool: file" entries
set(summary "")

# Runs a command, returns its exit status and its standard output and error
# joined. The variable names carry a prefix so they cannot hide the caller's.
function(lint_run out_status out_text)
  execute_process(COMMAND ${ARGN}
                  WORKING_DIRECTORY "${SOURCE}"
                  RESULT_VARIABLE lint_run_status
                  OUTPUT_VARIABLE lint_run_out
                  ERROR_VARIABLE lint_run_err)
  set(${out_status} "${lint_run_status}" PARENT_SCOPE)
  set(${out_text} "${lint_run_out}${lint_run_err}" PARENT_SCOPE)
endfunction()

# Records a failure of `tool` on `file` and prints what the tool said. (A
# function, not a macro: a macro would take the backslashes of the text as
# escapes.)
function(lint_fail tool file text)
  list(APPEND failures "${tool}: ${file}")
  message("---- ${tool}: ${file}\n${text}")
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

# The name of a file for the messages: relative to SOURCE when inside it.
function(lint_name out file)
  file(RELATIVE_PATH rel "${SOURCE}" "${file}")
  if(rel MATCHES "^\\.\\./")
    set(rel "${file}")
  endif()
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

# ---------------------------------------------------------------- clang-tidy
# A finding is an error (WarningsAsErrors, and --warnings-as-errors here as
# well), which gives a non-zero exit status; a report of a warning or error
# in the output counts too, in case a tool version exits with 0 regardless.
set(tidy "${clang_tidy_exe}" "--config-file=${SOURCE}/.clang-tidy" --quiet "--warnings-as-errors=*")

# Drops the compiler's "N warnings generated." line, which counts the
# diagnostics of system headers that clang-tidy does not show.
function(lint_tidy_text var)
  string(REGEX REPLACE "(^|\n)[0-9]+ warnings? (and [0-9]+ errors? )?generated\\.\n" "\\1" t "${${var}}")
  set(${var} "${t}" PARENT_SCOPE)
endfunction()

# The platform layer of the other platform is not in this build: Windows's
# is checked for the MinGW target, with the C++ headers of MinGW's g++, where
# they are installed.
file(READ "${compdb}" compdb_text)
file(GLOB mingw_cxx LIST_DIRECTORIES true "/usr/lib/gcc/x86_64-w64-mingw32/*/include/c++")
if(mingw_cxx)
  list(SORT mingw_cxx)
  list(GET mingw_cxx -1 mingw_cxx)
endif()

file(GLOB tidy_sources LIST_DIRECTORIES false "${SOURCE}/src/*.cpp")
list(SORT tidy_sources)
foreach(f IN LISTS tidy_sources)
  lint_name(name "${f}")
  string(FIND "${compdb_text}" "\"${f}\"" in_build)
  if(NOT in_build EQUAL -1)
    # The build may be gcc's: its optimization flags mean nothing to clang.
    set(args -p "${BUILD}" --extra-arg=-Wno-ignored-optimization-argument "${f}")
  elseif(f MATCHES "_windows\\.cpp$" AND mingw_cxx)
    set(args "${f}" -- --target=x86_64-w64-mingw32 -std=c++17 "-I${SOURCE}/src" -isystem "${mingw_cxx}"
             -isystem "${mingw_cxx}/x86_64-w64-mingw32" -isystem "${mingw_cxx}/backward")
  else()
    string(APPEND summary "clang-tidy: skipped ${name}, which this build does not compile\n")
    continue()
  endif()
  lint_run(status text ${tidy} ${args})
  lint_tidy_text(text)
  if(NOT status EQUAL 0 OR text MATCHES ": (warning|error): ")
    lint_fail(clang-tidy "${name}" "${text}")
  endif()
endforeach()
list(LENGTH tidy_sources n_tidy)

# The public header is C99 that C++ code includes too: it is checked as the
# main file in both languages.
file(GLOB public_headers LIST_DIRECTORIES false "${SOURCE}/include/bytetab/*.h")
list(SORT public_headers)
foreach(h IN LISTS public_headers)
  lint_name(name "${h}")
  foreach(lang "c;-std=c99" "c++;-std=c++17")
    list(GET lang 0 x)
    list(GET lang 1 std)
    lint_run(status text ${tidy} "${h}" -- -x ${x} ${std} "-I${SOURCE}/include")
    lint_tidy_text(text)
    if(NOT status EQUAL 0 OR text MATCHES ": (warning|error): ")
      lint_fail(clang-tidy "${name} (as ${x}, ${std})" "${text}")
    endif()
  endforeach()
endforeach()
list(LENGTH public_headers n_headers)
string(APPEND summary "clang-tidy: ${n_tidy} sources, ${n_headers} public headers (as C and C++)\n")

# ------------------------------------------------------------------ cppcheck
# Warnings, style, performance and portability findings; --error-exitcode
# makes any of them a non-zero exit status. The suppressions (with their
# reasons) are in SOURCE/.cppcheck-suppressions; a single finding can be
# suppressed in the code with a // cppcheck-suppress comment that says why.
set(cppcheck "${cppcheck_exe}" --quiet --inline-suppr --error-exitcode=1
    --enable=warning,style,performance,portability
    "--suppressions-list=${SOURCE}/.cppcheck-suppressions"
    # POSIX functions the code calls (getc_unlocked) are known to it.
    --library=posix
    "--template={file}:{line}:{column}: {severity}: {message} [{id}]"
    "-I${SOURCE}/src" "-I${SOURCE}/include")

function(lint_cppcheck lang what)
  lint_run(status text ${cppcheck} ${ARGN})
  if(NOT status EQUAL 0 OR text MATCHES ": (error|warning|style|performance|portability): ")
    lint_fail(cppcheck "${what} (as ${lang})" "${text}")
    set(failures "${failures}" PARENT_SCOPE)
  endif()
endfunction()

# Only the .cpp files: their headers are checked within them. A header given
# on its own would be checked without its users (every member of a struct
# "never used", say).
file(GLOB cppcheck_sources LIST_DIRECTORIES false "${SOURCE}/src/*.cpp")
list(SORT cppcheck_sources)
if(cppcheck_sources)
  lint_cppcheck(C++17 "src/" --language=c++ --std=c++17 ${cppcheck_sources})
endif()
if(public_headers)
  lint_cppcheck(C99 "include/bytetab/" --language=c --std=c99 ${public_headers})
  lint_cppcheck(C++17 "include/bytetab/" --language=c++ --std=c++17 ${public_headers})
endif()
list(LENGTH cppcheck_sources n)
string(APPEND summary "cppcheck: ${n} sources, ${n_headers} public headers (as C and C++)\n")

# -------------------------------------------------------------- clang-format
set(format_dirs src include tests fuzz)
set(format_globs "")
foreach(dir IN LISTS format_dirs)
  foreach(ext cpp hpp h c)
    list(APPEND format_globs "${dir}/*.${ext}")
  endforeach()
endforeach()

set(format_files "")
set(in_git FALSE)
find_program(git_exe git NO_CACHE)
if(git_exe)
  lint_run(git_status text "${git_exe}" rev-parse --is-inside-work-tree)
  if(git_status EQUAL 0)
    set(in_git TRUE)
  endif()
endif()
if(in_git)
  # In git's path patterns * matches across directories: tests/*.hpp takes
  # tests/support/*.hpp too. Names are printed unquoted (blanks and all);
  # only names with quotes, backslashes or control characters would come
  # quoted, and the check below rejects those.
  execute_process(COMMAND "${git_exe}" -c core.quotePath=false ls-files --cached --others --exclude-standard
                          -- ${format_globs}
                  WORKING_DIRECTORY "${SOURCE}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lint: git ls-files failed in ${SOURCE}:\n${err}")
  endif()
  string(REPLACE ";" "\\;" listing "${listing}")
  string(REPLACE "\n" ";" listing "${listing}")
  foreach(rel IN LISTS listing)
    if(rel STREQUAL "")
      continue()
    endif()
    if(rel MATCHES "^\"")
      message(FATAL_ERROR "lint: cannot handle the file name ${rel} (quoted by git)")
    endif()
    # Listed but deleted in the work tree: nothing to check.
    if(EXISTS "${SOURCE}/${rel}")
      list(APPEND format_files "${rel}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES format_files)
  set(format_from "git")
endif()
# Not in git, or in a work tree that has none of these files (SOURCE an
# unpacked copy inside another one whose ignore rules hide it, say): a glob.
if(NOT format_files)
  # Recursive as git's patterns are; made absolute, as a relative one would
  # be taken from the current directory.
  list(TRANSFORM format_globs PREPEND "${SOURCE}/" OUTPUT_VARIABLE abs_globs)
  file(GLOB_RECURSE format_files LIST_DIRECTORIES false RELATIVE "${SOURCE}" ${abs_globs})
  set(format_from "a glob")
endif()
list(SORT format_files)

foreach(rel IN LISTS format_files)
  lint_run(status text "${clang_format_exe}" "--style=file:${SOURCE}/.clang-format" --dry-run --Werror "${rel}")
  if(NOT status EQUAL 0 OR NOT text STREQUAL "")
    # Each place is three lines (message, code, caret): the first ten are
    # shown, and the command that lists them all.
    string(REGEX MATCHALL "clang-format-violations" places "${text}")
    list(LENGTH places n_places)
    if(n_places GREATER 10)
      string(REGEX MATCH "^([^\n]*\n[^\n]*\n[^\n]*\n){10}" head "${text}")
      math(EXPR more "${n_places} - 10")
      set(text "${head}... and ${more} more places (clang-format --dry-run ${rel} lists them all)\n")
    endif()
    lint_fail(clang-format "${rel}" "${text}")
  endif()
endforeach()
list(LENGTH format_files n)
string(APPEND summary "clang-format: ${n} files (listed by ${format_from})\n")

# ------------------------------------------------------------ license lines
# Every source file names its license in one of its first three lines: the
# decoders, which end up in users' programs, 0BSD; everything else MIT.
set(license_files "")
if(in_git)
  execute_process(COMMAND "${git_exe}" -c core.quotePath=false ls-files --cached --others --exclude-standard
                  WORKING_DIRECTORY "${SOURCE}" OUTPUT_VARIABLE listing)
  string(REPLACE "\n" ";" listing "${listing}")
  foreach(rel IN LISTS listing)
    if(rel MATCHES "\\.(c|h|cpp|hpp|cmake|cmake\\.in|ld|1|1\\.in|s|S)$|(^|/)CMakeLists\\.txt$|^(bench/run|bench/compile|\\.ci/run|tests/winestart|tests/examples)$"
       AND EXISTS "${SOURCE}/${rel}")
      list(APPEND license_files "${rel}")
    endif()
  endforeach()
endif()
foreach(rel IN LISTS license_files)
  file(STRINGS "${SOURCE}/${rel}" head LIMIT_COUNT 3)
  set(want "MIT")
  if(rel STREQUAL "include/bytetab/decode.h" OR rel MATCHES "^asm/")
    set(want "0BSD")
  endif()
  if(NOT head MATCHES "SPDX-License-Identifier: ${want}( |\\*|$|;)")
    lint_fail(license "${rel}" "no SPDX-License-Identifier: ${want} in its first three lines\n")
  endif()
endforeach()
list(LENGTH license_files n)
string(APPEND summary "license: ${n} files\n")

# ------------------------------------------------------------------- outcome
message("${summary}")
if(failures)
  list(JOIN failures "\n  " list)
  message(FATAL_ERROR "lint: findings in\n  ${list}")
endif()
message("lint: clean")
