# Makes the .deb, unpacks it into a scratch root with dpkg -x, checks what it
# holds and runs the unpacked tool once.
# cmake -DCPACK=... -DCONFIG=<config> -DBUILD=<build dir> -DSCRATCH=<scratch dir> -P package.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
execute_process(COMMAND "${CPACK}" -G DEB -C "${CONFIG}" --config "${BUILD}/CPackConfig.cmake" -B "${SCRATCH}"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb "${SCRATCH}/*.deb")
execute_process(COMMAND dpkg -x "${deb}" "${SCRATCH}/root" COMMAND_ERROR_IS_FATAL ANY)
foreach(f usr/bin/bytetab usr/share/man/man1/bytetab.1 usr/lib/cmake/bytetab/bytetabConfig.cmake
          usr/include/bytetab/decode.h)
  if(NOT EXISTS "${SCRATCH}/root/${f}")
    message(FATAL_ERROR "${deb} lacks ${f}")
  endif()
endforeach()

file(WRITE "${SCRATCH}/logo.bin" "AAAB")
execute_process(COMMAND "${SCRATCH}/root/usr/bin/bytetab" logo.bin WORKING_DIRECTORY "${SCRATCH}"
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
file(READ "${SCRATCH}/logo.bin.h" header)
if(NOT status EQUAL 0 OR NOT out STREQUAL "Done."
   OR NOT header STREQUAL "#define LOGO_BIN { \\\n0xC1, 0x02, 0x42,   } \n")
  message(FATAL_ERROR "the packaged tool gave status ${status}, output '${out}', header:\n${header}")
endif()
message(STATUS "${deb}: unpacked and run")
