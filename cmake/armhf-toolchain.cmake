# Cross build for the printer's board: Cortex-A7 with NEON, hard float.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard")
# Everything is built by this one compiler, so the note that GCC 7.1 changed
# how some arguments are passed is only noise.
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard -Wno-psabi")

# The board's libraries, unpacked from Debian's armhf packages by
# scripts/armhf-sysroot (the environment may name another directory).
if(DEFINED ENV{VELMOR_ARMHF_SYSROOT})
  set(VELMOR_ARMHF_SYSROOT "$ENV{VELMOR_ARMHF_SYSROOT}")
else()
  get_filename_component(VELMOR_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/armhf-sysroot" ABSOLUTE)
endif()
if(NOT EXISTS "${VELMOR_ARMHF_SYSROOT}/.manifest" OR NOT EXISTS "${VELMOR_ARMHF_SYSROOT}/run")
  message(FATAL_ERROR "no armhf libraries in ${VELMOR_ARMHF_SYSROOT}: run scripts/armhf-sysroot")
endif()
set(multiarch arm-linux-gnueabihf)

# The cross compiler's own sysroot first, then the board's libraries, then the
# host's architecture-independent headers (nlohmann-json, CLI11, googletest).
set(CMAKE_FIND_ROOT_PATH /usr/${multiarch} "${VELMOR_ARMHF_SYSROOT}" /)
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})
set(ENV{PKG_CONFIG_LIBDIR}
    "${VELMOR_ARMHF_SYSROOT}/usr/lib/${multiarch}/pkgconfig:${VELMOR_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${VELMOR_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Their headers, with the ones that differ by architecture (openssl's
# configuration) in the multiarch folder, after the project's own.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${VELMOR_ARMHF_SYSROOT}/usr/include/${multiarch}"
    "${VELMOR_ARMHF_SYSROOT}/usr/include")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${CMAKE_C_STANDARD_INCLUDE_DIRECTORIES})
# The libraries' own dependencies (libpng's zlib, httplib's openssl) are found
# at link time in the same place.
set(rpath_link "-Wl,-rpath-link,${VELMOR_ARMHF_SYSROOT}/lib/${multiarch}")
string(APPEND rpath_link ":${VELMOR_ARMHF_SYSROOT}/usr/lib/${multiarch}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${rpath_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${rpath_link}")

# Tests run under user-mode emulation on the build machine, with the board's
# runtime (the loader, libstdc++, iconv's GB2312 module) from the sysroot:
# one command, as the tests also start printer-sim and pvk4k through it.
set(CMAKE_CROSSCOMPILING_EMULATOR "${VELMOR_ARMHF_SYSROOT}/run")
