# SPDX-License-Identifier: ISC
# Cross build with nothing but Debian's cross compiler for SIGNCHECK_CROSS_TRIPLE
# (Debian package g++-<triple>): libraries and headers come from /usr/<triple>
# alone, so the host's OpenSSL, GoogleTest and Google Benchmark are not found
# and signtool, the tests and the benchmarks leave themselves out.  The
# programs are static and run under qemu's user-mode emulator as they are
# (tests/cross/run.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${SIGNCHECK_CROSS_ARCH})
set(CMAKE_C_COMPILER ${SIGNCHECK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SIGNCHECK_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${SIGNCHECK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
