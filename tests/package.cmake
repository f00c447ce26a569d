# SPDX-License-Identifier: MIT
# Builds the package preset (the release build with Debian's flags) in a
# scratch folder and makes its .deb; has lintian check it, every tag shown
# (--pedantic, info and experimental ones too), and fails on any tag that
# is not overridden; unpacks it into a scratch root with dpkg -x, checks
# what it holds, reads its pkg-config file where pkg-config is installed, and
# runs the unpacked tool once. The same build installed with another prefix
# has a man page that names that prefix's decoder.
# cmake -DCPACK=... -DSOURCE=<source dir> -DSCRATCH=<scratch dir> -DVERSION=<version> -P package.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
set(build "${SCRATCH}/build")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" --preset package -B "${build}" OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${build}" -j 2 OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CPACK}" -G DEB --config "${build}/CPackConfig.cmake" -B "${SCRATCH}"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb "${SCRATCH}/*.deb")
find_program(lintian lintian NO_CACHE)
if(lintian)
  execute_process(COMMAND "${lintian}" --pedantic --display-info --display-experimental
                          --fail-on error,warning,info,pedantic,experimental "${deb}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lintian found something in ${deb}:\n${out}")
  endif()
  message(STATUS "lintian --pedantic: nothing found\n${out}")
else()
  message(STATUS "lintian: skipped, not installed")
endif()

set(root "${SCRATCH}/root")
execute_process(COMMAND dpkg -x "${deb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
foreach(f usr/bin/bytetab usr/share/man/man1/bytetab.1.gz usr/lib/cmake/bytetab/bytetabConfig.cmake
          usr/include/bytetab/decode.h usr/share/pkgconfig/bytetab.pc usr/share/doc/bytetab/copyright
          usr/share/doc/bytetab/changelog.gz usr/share/bytetab/asm/z80.s usr/share/bytetab/asm/sm83.s
          usr/share/bytetab/asm/6502.s usr/share/bytetab/asm/avr.S usr/share/bytetab/asm/m0.S)
  if(NOT EXISTS "${root}/${f}")
    message(FATAL_ERROR "${deb} lacks ${f}")
  endif()
endforeach()

# The package's pkg-config file alone, as the system's would be.
find_program(pkgconfig pkg-config NO_CACHE)
if(pkgconfig)
  set(ENV{PKG_CONFIG_LIBDIR} "${root}/usr/share/pkgconfig")
  unset(ENV{PKG_CONFIG_PATH})
  execute_process(COMMAND "${pkgconfig}" --modversion bytetab OUTPUT_VARIABLE version
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${pkgconfig}" --variable=includedir bytetab OUTPUT_VARIABLE includedir
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${pkgconfig}" --variable=asmdir bytetab OUTPUT_VARIABLE asmdir
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(NOT version STREQUAL VERSION OR NOT includedir STREQUAL "/usr/include" OR NOT asmdir STREQUAL "/usr/share/bytetab/asm")
    message(FATAL_ERROR "bytetab.pc gives the version ${version} and the folders ${includedir} and ${asmdir}, not "
                        "${VERSION}, /usr/include and /usr/share/bytetab/asm")
  endif()
else()
  message(STATUS "pkg-config: skipped, not installed")
endif()

# The man page names the decoder where it is installed: in /usr/include from
# the .deb, in the prefix's include folder when the build is installed there.
function(names man header)
  execute_process(COMMAND gzip -dc "${man}" OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "-" "\\-" troff "${header}")
  string(FIND "${text}" "\n.IR \"${troff}\" ,\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${man} does not name ${header} as the decoder:\n${text}")
  endif()
endfunction()
set(prefix "${SCRATCH}/other prefix")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${build}" --prefix "${prefix}" OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)
names("${root}/usr/share/man/man1/bytetab.1.gz" /usr/include/bytetab/decode.h)
names("${prefix}/share/man/man1/bytetab.1.gz" "${prefix}/include/bytetab/decode.h")

file(WRITE "${SCRATCH}/logo.bin" "AAAB")
execute_process(COMMAND "${root}/usr/bin/bytetab" logo.bin WORKING_DIRECTORY "${SCRATCH}"
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
file(READ "${SCRATCH}/logo.bin.h" header)
if(NOT status EQUAL 0 OR NOT out STREQUAL "Done."
   OR NOT header STREQUAL "#define LOGO_BIN { \\\n0xC1, 0x02, 0x42,   } \n")
  message(FATAL_ERROR "the packaged tool gave status ${status}, output '${out}', header:\n${header}")
endif()
message(STATUS "${deb}: unpacked and run")
