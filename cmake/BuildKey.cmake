# SPDX-License-Identifier: ISC
# The key compiled into signcheck: checks SIGNCHECK_PUBLIC_KEY, prints the
# key's ID (the one `signtool id` prints) and warns about the development
# key.  Sets
#   SIGNCHECK_KEY_ID               the compiled-in key's ID
#   SIGNCHECK_BUILTIN_PUBLIC_KEY   the public key file compiled in
#   SIGNCHECK_DEVELOPMENT_KEY_BUILD  ON when that key is the development key
#   SIGNCHECK_TEST_PRIVATE_KEY     (cache) the private half the tests and the
#                                  examples sign with; empty skips them
# and checks SIGNCHECK_KEY_SERIAL, the number the packages' version orders
# key rotations by.

if(NOT SIGNCHECK_KEY_SERIAL MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SIGNCHECK_KEY_SERIAL=${SIGNCHECK_KEY_SERIAL}: give a whole number "
                      "(1 for the first key, raised at each rotation, or a date such as 20250301)")
endif()

set(SIGNCHECK_DEVELOPMENT_PUBLIC_KEY ${PROJECT_SOURCE_DIR}/keys/development.pub)

include(${CMAKE_CURRENT_LIST_DIR}/KeyId.cmake)

if(SIGNCHECK_PUBLIC_KEY)
  if(NOT IS_ABSOLUTE "${SIGNCHECK_PUBLIC_KEY}" OR NOT EXISTS "${SIGNCHECK_PUBLIC_KEY}"
     OR IS_DIRECTORY "${SIGNCHECK_PUBLIC_KEY}")
    message(FATAL_ERROR "SIGNCHECK_PUBLIC_KEY=${SIGNCHECK_PUBLIC_KEY}: no such key file "
                        "(give the absolute path of the public key file, or leave it empty for the development key)")
  endif()
  set(key_file ${SIGNCHECK_PUBLIC_KEY})
else()
  set(key_file ${SIGNCHECK_DEVELOPMENT_PUBLIC_KEY})
endif()
set(SIGNCHECK_BUILTIN_PUBLIC_KEY ${key_file})
signcheck_key_id(SIGNCHECK_KEY_ID ${key_file})
signcheck_key_id(development_id ${SIGNCHECK_DEVELOPMENT_PUBLIC_KEY})
if(SIGNCHECK_KEY_ID STREQUAL development_id)
  set(SIGNCHECK_DEVELOPMENT_KEY_BUILD ON)
  set(test_key_default ${PROJECT_SOURCE_DIR}/keys/development.key)
  message(NOTICE "signcheck key: ${SIGNCHECK_KEY_ID}, the development key, whose private half is public: "
                 "not for a release (configure with -DSIGNCHECK_PUBLIC_KEY=/path/to/your.pub, see `signtool keygen`)")
else()
  set(SIGNCHECK_DEVELOPMENT_KEY_BUILD OFF)
  set(test_key_default "")
  message(STATUS "signcheck key: ${SIGNCHECK_KEY_ID} (${key_file})")
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
    message(FATAL_ERROR "SIGNCHECK_TEST_PRIVATE_KEY=${SIGNCHECK_TEST_PRIVATE_KEY} is key ${test_key_id}, "
                        "not the compiled-in key ${SIGNCHECK_KEY_ID}")
  endif()
else()
  message(STATUS "No SIGNCHECK_TEST_PRIVATE_KEY: the tests that sign skip, and the shipped examples "
                 "(signed with the development key) fail with this key")
endif()
unset(key_file)
unset(development_id)
unset(test_key_default)
