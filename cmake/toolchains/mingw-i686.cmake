# SPDX-License-Identifier: MIT
# The 32-bit Windows console exe: the tool's home platform.
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
