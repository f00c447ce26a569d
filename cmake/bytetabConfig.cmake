# find_package(bytetab) gives the imported executable bytetab::bytetab, the
# decoder library bytetab::decode (the header bytetab/decode.h) and
# bytetab_add_header().
include("${CMAKE_CURRENT_LIST_DIR}/bytetabTargets.cmake")

# bytetab_add_header(<target> <input-file>)
#
# Converts <input-file> into <name>.h, where <name> is the file's own name,
# and makes it includable from <target>'s sources as "<name>.h". The input is
# copied into the build tree and converted there under its bare name, so the
# macro is made from <name> alone: logo.bin gives LOGO_BIN. The header is made
# again whenever the input changes.
function(bytetab_add_header target input)
  get_filename_component(input "${input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(name "${input}" NAME)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/bytetab/${target}")
  file(MAKE_DIRECTORY "${dir}")
  add_custom_command(
    OUTPUT "${dir}/${name}.h"
    COMMAND "${CMAKE_COMMAND}" -E copy "${input}" "${dir}/${name}"
    COMMAND bytetab::bytetab "${name}"
    WORKING_DIRECTORY "${dir}"
    DEPENDS "${input}" bytetab::bytetab
    COMMENT "Converting ${name} into ${name}.h"
    VERBATIM)
  target_sources(${target} PRIVATE "${dir}/${name}.h")
  target_include_directories(${target} PRIVATE "${dir}")
endfunction()
