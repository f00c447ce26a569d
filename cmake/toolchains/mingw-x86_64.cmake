# SPDX-License-Identifier: MIT
# The 64-bit Windows console exe, for Wine where 32-bit code cannot run.
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
