# SPDX-License-Identifier: ISC
# 64-bit Arm, little-endian: cmake --preset aarch64
set(SIGNCHECK_CROSS_ARCH aarch64)
set(SIGNCHECK_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
