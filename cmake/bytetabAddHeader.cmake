# SPDX-License-Identifier: MIT
# bytetab_add_header(<target> <input> [NAME <name>] [LOSSY])
#
# Converts <input> at build time into <name>.h, which <target>'s sources
# include as "<name>.h": it gives the tokens as the macro <NAME> (<name>
# upper-cased) and their decoded size in bytes as <NAME>_SIZE, a decimal
# constant. Without NAME, <name> is the input's file name made a C identifier
# the way the tool makes its macro names: assets/tiles.bin gives tiles_bin.h
# with TILES_BIN and TILES_BIN_SIZE. <target> also gets bytetab::decode. The
# header is made again when the input or the tool changes.
#
# The tokens keep 7 bits a byte: an input with bytes above 0x7F fails its
# build step unless LOSSY accepts the loss. An empty input, whose header would
# be no C array, stops the configure step (the build step, for an input the
# build makes).
#
# Included by the installed package and by bytetab's own CMakeLists.txt, for
# projects that add bytetab with add_subdirectory or FetchContent.
include_guard(GLOBAL)

function(bytetab_add_header target input)
  cmake_parse_arguments(PARSE_ARGV 2 arg "LOSSY" "NAME" "")
  set(usage "bytetab_add_header(<target> <input> [NAME <name>] [LOSSY])")
  if(arg_UNPARSED_ARGUMENTS)
    list(JOIN arg_UNPARSED_ARGUMENTS " " extra)
    message(FATAL_ERROR "bytetab_add_header: unknown argument ${extra} after the input ${input} "
                        "of target ${target}; the call is ${usage}")
  endif()
  if(arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "bytetab_add_header: NAME without a name, for the input ${input} of target ${target}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "bytetab_add_header: no target ${target} to convert ${input} for; "
                        "define it (add_executable, add_library) before the call")
  endif()
  get_target_property(aliased ${target} ALIASED_TARGET)
  if(aliased)
    set(target ${aliased})
  endif()
  # The rule that makes the header reaches only the targets of the folder
  # whose CMakeLists.txt defines it.
  get_target_property(target_dir ${target} BINARY_DIR)
  if(NOT target_dir STREQUAL CMAKE_CURRENT_BINARY_DIR)
    get_target_property(target_source ${target} SOURCE_DIR)
    message(FATAL_ERROR "bytetab_add_header: call it for the input ${input} in the folder that defines "
                        "target ${target} (${target_source}), not in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  if(NOT TARGET bytetab::bytetab)
    # bytetab added as a subproject of a cross build defines no tool.
    message(FATAL_ERROR "bytetab_add_header: no bytetab tool to convert ${input} with: a cross build "
                        "converts with the tool installed on the build machine, found with "
                        "find_package(bytetab) and -Dbytetab_DIR=<prefix>/lib/cmake/bytetab")
  endif()

  if(DEFINED arg_NAME)
    set(name "${arg_NAME}")
    if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      message(FATAL_ERROR "bytetab_add_header: NAME ${name}, for the input ${input} of target ${target}, "
                          "is not a C identifier (letters, digits and _, not beginning with a digit)")
    endif()
  else()
    # Byte for byte the tool's rule: other bytes become _, and a leading
    # digit gets a _ in front.
    get_filename_component(name "${input}" NAME)
    string(MAKE_C_IDENTIFIER "${name}" name)
  endif()

  get_filename_component(file "${input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_source_file_property(generated "${file}" GENERATED)
  if(NOT EXISTS "${file}" AND NOT generated)
    message(FATAL_ERROR "bytetab_add_header: the input ${input} of target ${target} does not exist "
                        "(looked for ${file})")
  endif()
  # An input the build makes may be empty now and not once it is made: its
  # build step checks it.
  if(NOT generated)
    file(SIZE "${file}" size)
    if(size EQUAL 0)
      message(FATAL_ERROR "bytetab_add_header: the input ${input} of target ${target} is empty, "
                          "and a header of no tokens, { }, is no C array")
    endif()
  endif()

  # Macros are compared upper-cased, as the headers would clash on a file
  # system that ignores case. Each header has two: its tokens and their size.
  string(TOUPPER "${name}" macro)
  foreach(m ${macro} ${macro}_SIZE)
    get_property(other TARGET ${target} PROPERTY BYTETAB_MACRO_${m})
    if(other)
      message(FATAL_ERROR "bytetab_add_header: the input ${input} would give target ${target} the header "
                          "${name}.h with the macros ${macro} and ${macro}_SIZE, and ${other} has ${m} "
                          "already; give one of them another NAME")
    endif()
  endforeach()
  set_property(TARGET ${target} PROPERTY BYTETAB_MACRO_${macro} "the input ${input} (header ${name}.h)")
  set_property(TARGET ${target} PROPERTY BYTETAB_MACRO_${macro}_SIZE "the input ${input} (header ${name}.h)")

  # The tool converts a copy of the input under the bare name in tokens/, so
  # that it names the header and the macro after it; <name>.h beside that
  # folder includes the tool's header unchanged and adds the size.
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/bytetab/${target}")
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/bytetabConvert.cmake")
  file(RELATIVE_PATH shown "${CMAKE_SOURCE_DIR}" "${file}")
  if(shown MATCHES "^\\.\\./")
    set(shown "${file}")
  endif()
  file(MAKE_DIRECTORY "${dir}/tokens")
  add_custom_command(
    OUTPUT "${dir}/${name}.h" "${dir}/tokens/${name}.h"
    COMMAND "${CMAKE_COMMAND}" "-DTOOL=$<TARGET_FILE:bytetab::bytetab>" "-DINPUT=${file}" "-DGIVEN=${input}"
            "-DDIR=${dir}" "-DNAME=${name}" "-DLOSSY=${arg_LOSSY}" -P "${script}"
    DEPENDS "${file}" bytetab::bytetab "${script}"
    COMMENT "Converting ${shown} into ${name}.h"
    VERBATIM)
  target_sources(${target} PRIVATE "${dir}/${name}.h" "${dir}/tokens/${name}.h")
  target_include_directories(${target} PRIVATE "${dir}")

  # Set on the property rather than with target_link_libraries: a target whose
  # links were given without PRIVATE/PUBLIC/INTERFACE refuses a call with
  # them, and the other way round.
  get_target_property(links ${target} LINK_LIBRARIES)
  if(NOT "bytetab::decode" IN_LIST links)
    set_property(TARGET ${target} APPEND PROPERTY LINK_LIBRARIES bytetab::decode)
  endif()
endfunction()
