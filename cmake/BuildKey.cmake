# SPDX-License-Identifier: ISC
# The keys compiled into signcheck: checks SIGNCHECK_PUBLIC_KEY, a list of 1
# to 8 public key files (several while a key is rotated, the old one first),
# each read by the project's own key reader (cmake/KeyId.cmake), prints each
# key's ID (the one `signtool id` prints) and warns about the development
# key.  Sets
#   SIGNCHECK_KEY_IDS              the compiled-in keys' IDs, in order
#   SIGNCHECK_BUILTIN_PUBLIC_KEYS  their public key files as the reader wrote
#                                  them back (<build>/keys/<ID>.pub), in the
#                                  same order: what is compiled in and
#                                  packaged, never the input's bytes
#   SIGNCHECK_KEY_ID               the first key's ID, the one the reference
#                                  constants and signcheck_key_id() carry
#   SIGNCHECK_BUILTIN_PUBLIC_KEY   the first key's public key file
#   SIGNCHECK_DEVELOPMENT_KEY_BUILD  ON when the one key is the development key
#   SIGNCHECK_TEST_PRIVATE_KEY     (cache) the private half of the first key,
#                                  which the tests and the examples sign
#                                  with; empty skips them
# and checks SIGNCHECK_KEY_SERIAL, the number the packages' version orders
# key rotations by.

if(NOT SIGNCHECK_KEY_SERIAL MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SIGNCHECK_KEY_SERIAL=${SIGNCHECK_KEY_SERIAL}: give a whole number "
                      "(1 for the first key, raised at each rotation, or a date such as 20250301)")
endif()

set(SIGNCHECK_DEVELOPMENT_PUBLIC_KEY ${PROJECT_SOURCE_DIR}/keys/development.pub)

include(${CMAKE_CURRENT_LIST_DIR}/KeyId.cmake)

set(written_keys ${CMAKE_BINARY_DIR}/keys)
file(MAKE_DIRECTORY ${written_keys})
signcheck_public_key(development_id ${SIGNCHECK_DEVELOPMENT_PUBLIC_KEY} ${written_keys}/written.pub)
if(SIGNCHECK_PUBLIC_KEY)
  set(key_files ${SIGNCHECK_PUBLIC_KEY})
else()
  set(key_files ${SIGNCHECK_DEVELOPMENT_PUBLIC_KEY})
endif()
list(LENGTH key_files key_count)
if(key_count GREATER 8)
  message(FATAL_ERROR "SIGNCHECK_PUBLIC_KEY names ${key_count} key files, and signcheck takes at most 8 "
                      "(a rotation needs two: old.pub;new.pub)")
endif()
set(SIGNCHECK_KEY_IDS)
set(SIGNCHECK_BUILTIN_PUBLIC_KEYS)
foreach(key_file IN LISTS key_files)
  if(NOT IS_ABSOLUTE "${key_file}" OR NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
    message(FATAL_ERROR "SIGNCHECK_PUBLIC_KEY=${key_file}: no such key file "
                        "(give the absolute path of each public key file, separated by semicolons, or leave it "
                        "empty for the development key)")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${key_file})
  signcheck_public_key(key_id ${key_file} ${written_keys}/written.pub)
  if(key_id IN_LIST SIGNCHECK_KEY_IDS)
    message(FATAL_ERROR "SIGNCHECK_PUBLIC_KEY names key ${key_id} twice (the second time as ${key_file}): "
                        "give each key once")
  endif()
  if(key_id STREQUAL development_id AND key_count GREATER 1)
    message(FATAL_ERROR "SIGNCHECK_PUBLIC_KEY: ${key_file} is the development key, whose private half is public, "
                        "and a build with several keys is a release build: leave it out")
  endif()
  # Rewritten only when it changed, so that a configure rebuilds nothing.
  file(COPY_FILE ${written_keys}/written.pub ${written_keys}/${key_id}.pub ONLY_IF_DIFFERENT)
  list(APPEND SIGNCHECK_KEY_IDS ${key_id})
  list(APPEND SIGNCHECK_BUILTIN_PUBLIC_KEYS ${written_keys}/${key_id}.pub)
endforeach()
file(REMOVE ${written_keys}/written.pub)
list(GET SIGNCHECK_BUILTIN_PUBLIC_KEYS 0 SIGNCHECK_BUILTIN_PUBLIC_KEY)
list(GET SIGNCHECK_KEY_IDS 0 SIGNCHECK_KEY_ID)
if(SIGNCHECK_KEY_ID STREQUAL development_id)
  set(SIGNCHECK_DEVELOPMENT_KEY_BUILD ON)
  set(test_key_default ${PROJECT_SOURCE_DIR}/keys/development.key)
  message(NOTICE "signcheck key: ${SIGNCHECK_KEY_ID}, the development key, whose private half is public: "
                 "not for a release (configure with -DSIGNCHECK_PUBLIC_KEY=/path/to/your.pub, see `signtool keygen`)")
else()
  set(SIGNCHECK_DEVELOPMENT_KEY_BUILD OFF)
  set(test_key_default "")
  # One line per key, the order in which signcheck tries them.
  set(key_number 0)
  foreach(key_file key_id IN ZIP_LISTS key_files SIGNCHECK_KEY_IDS)
    math(EXPR key_number "${key_number} + 1")
    if(key_count EQUAL 1)
      message(NOTICE "signcheck key: ${key_id} (${key_file})")
    else()
      message(NOTICE "signcheck key ${key_number} of ${key_count}: ${key_id} (${key_file})")
    endif()
  endforeach()
endif()

# The default follows the compiled-in key until it is set by hand.
if(NOT DEFINED SIGNCHECK_TEST_PRIVATE_KEY OR
   (DEFINED CACHE{SIGNCHECK_TEST_PRIVATE_KEY_DEFAULT} AND
    SIGNCHECK_TEST_PRIVATE_KEY STREQUAL "$CACHE{SIGNCHECK_TEST_PRIVATE_KEY_DEFAULT}"))
  set(SIGNCHECK_TEST_PRIVATE_KEY "${test_key_default}" CACHE FILEPATH
      "Private half of the compiled-in key, for the tests and the examples (empty: skip what needs it)" FORCE)
endif()
set(SIGNCHECK_TEST_PRIVATE_KEY_DEFAULT "${test_key_default}" CACHE INTERNAL "")
if(SIGNCHECK_TEST_PRIVATE_KEY)
  if(NOT EXISTS "${SIGNCHECK_TEST_PRIVATE_KEY}")
    message(FATAL_ERROR "SIGNCHECK_TEST_PRIVATE_KEY=${SIGNCHECK_TEST_PRIVATE_KEY}: no such key file")
  endif()
  signcheck_key_id(test_key_id ${SIGNCHECK_TEST_PRIVATE_KEY})
  if(NOT test_key_id STREQUAL SIGNCHECK_KEY_ID)
    if(key_count EQUAL 1)
      set(expected "the compiled-in key ${SIGNCHECK_KEY_ID}")
    else()
      set(expected "the first compiled-in key ${SIGNCHECK_KEY_ID}, whose constants the tests compare with")
    endif()
    message(FATAL_ERROR "SIGNCHECK_TEST_PRIVATE_KEY=${SIGNCHECK_TEST_PRIVATE_KEY} is key ${test_key_id}, "
                        "not ${expected}")
  endif()
elseif(SIGNCHECK_BUILD_TESTS)
  message(STATUS "No SIGNCHECK_TEST_PRIVATE_KEY: the tests that sign skip, and the shipped examples "
                 "(signed with the development key) fail with this key")
endif()
unset(key_file)
unset(key_files)
unset(key_id)
unset(key_count)
unset(key_number)
unset(expected)
unset(development_id)
unset(test_key_default)
unset(written_keys)
