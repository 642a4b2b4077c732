# SPDX-License-Identifier: ISC
# IBM Z, big-endian: cmake --preset s390x
set(SIGNCHECK_CROSS_ARCH s390x)
set(SIGNCHECK_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
