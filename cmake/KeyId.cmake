# SPDX-License-Identifier: ISC
# What a key file holds, as the project's own key reader sees it: the build
# never parses a key file itself.  On first use the reader is built for the
# host (cmake/KeyReader, into <build>/key-reader) with the host's compiler
# and no toolchain file, so that a cross build can run it too; later
# configures rebuild it only when its sources changed.
#
# signcheck_key_id(<out> <key file>): the ID of any plain key file (public,
#   or a private one without passphrase), as `signtool id` prints it.
# signcheck_public_key(<out id> <key file> <written file>): the ID of a
#   public key file, refusing a private one (naming the public file to give
#   instead), and writes the key back to <written file> as the reader writes
#   it: the ID comment and p, q, g, y, nothing of the input's own bytes.
# Either stops configure with the reader's one-line refusal.

set(SIGNCHECK_KEY_READER_DIR ${CMAKE_BINARY_DIR}/key-reader)

function(signcheck_build_key_reader)
  if(SIGNCHECK_KEY_READER)
    return()
  endif()
  set(dir ${SIGNCHECK_KEY_READER_DIR})
  if(NOT EXISTS ${dir}/CMakeCache.txt)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env --unset=CMAKE_TOOLCHAIN_FILE
              ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/KeyReader -B ${dir} -DCMAKE_BUILD_TYPE=Release
              -DSIGNCHECK_SOURCE_DIR=${PROJECT_SOURCE_DIR}
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "cannot configure the key reader for the host:\n${output}")
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} --target signcheck-key-reader
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot build the key reader for the host:\n${output}")
  endif()
  set(SIGNCHECK_KEY_READER ${dir}/signcheck-key-reader PARENT_SCOPE)
endfunction()
signcheck_build_key_reader()

function(signcheck_ask_key_reader out)
  execute_process(COMMAND ${SIGNCHECK_KEY_READER} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE answer
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${answer}")
  endif()
  set(${out} ${answer} PARENT_SCOPE)
endfunction()

function(signcheck_key_id out file)
  signcheck_ask_key_reader(id id ${file})
  set(${out} ${id} PARENT_SCOPE)
endfunction()

function(signcheck_public_key out file written)
  signcheck_ask_key_reader(id public ${file} ${written})
  set(${out} ${id} PARENT_SCOPE)
endfunction()
