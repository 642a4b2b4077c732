# SPDX-License-Identifier: ISC
# The file checks run against a fast stand-in for the verification.
foreach(check tagged lst url)
  fuzz_target(fuzz_${check} ${CMAKE_CURRENT_SOURCE_DIR}/${check}.cpp
              ${CMAKE_CURRENT_SOURCE_DIR}/fast_verify.cpp signcheck_checks)
endforeach()
fuzz_target(fuzz_decode ${CMAKE_CURRENT_SOURCE_DIR}/decode.cpp signcheck_checks)
# The library's buffer call, against the same stand-in.
fuzz_target(fuzz_lib ${CMAKE_CURRENT_SOURCE_DIR}/lib.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fast_verify.cpp signcheck_lib
            signcheck_checks)
