# SPDX-License-Identifier: ISC
fuzz_target(fuzz_sha256_split ${CMAKE_CURRENT_SOURCE_DIR}/sha256_split.cpp sha256)
