# SPDX-License-Identifier: MIT
# find_package(bytetab) gives the imported executable bytetab::bytetab, the
# decoder library bytetab::decode (the header bytetab/decode.h) and
# bytetab_add_header().
include("${CMAKE_CURRENT_LIST_DIR}/bytetabTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/bytetabAddHeader.cmake")

# In a cross build the tool runs on the build machine, but the decoder is
# compiled for the target: its installed folder (/usr/include for the .deb)
# holds the build machine's C headers too, which must not come before the
# target's. The target gets a folder that holds a copy of the decoder alone.
if(CMAKE_CROSSCOMPILING)
  get_target_property(bytetab_include bytetab::decode INTERFACE_INCLUDE_DIRECTORIES)
  set(bytetab_copy "${CMAKE_BINARY_DIR}/bytetab-decoder")
  if(NOT bytetab_include STREQUAL bytetab_copy)
    file(COPY "${bytetab_include}/bytetab/decode.h" DESTINATION "${bytetab_copy}/bytetab")
    set_target_properties(bytetab::decode PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${bytetab_copy}")
    # A new decoder installed makes a new copy.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${bytetab_include}/bytetab/decode.h")
  endif()
  unset(bytetab_include)
  unset(bytetab_copy)
endif()
