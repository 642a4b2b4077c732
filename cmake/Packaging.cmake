# SPDX-License-Identifier: ISC
# Debian packages of the installed programs and their manual pages.
#
# After a release build:
#   cpack --config build/release/CPackConfig.cmake -G DEB -B build/release/package
# gives, in build/release/package, installing to /usr:
#   signcheck_<version>_<arch>.deb  signcheck and filedigest, depending on
#                                   libc at most (nothing when static), and
#                                   each compiled-in public key as
#                                   /usr/share/signcheck/<key ID>.pub
#   signtool_<version>_<arch>.deb   signtool, with its libcrypto and C++
#                                   runtime dependencies
# Where dpkg-shlibdeps is found it works out the dependencies with their
# versions from the programs themselves.

set(SIGNCHECK_PACKAGE_MAINTAINER "signcheck maintainers <maintainers@signcheck.invalid>"
    CACHE STRING "Maintainer named in the Debian packages")

set(debian_dir ${PROJECT_SOURCE_DIR}/cmake/debian)
find_program(SIGNCHECK_GZIP gzip)
mark_as_advanced(SIGNCHECK_GZIP)

# Each package's /usr/share/doc: the copyright file and the changelog,
# compressed without a time stamp as Debian has it.
if(SIGNCHECK_GZIP)
  set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
  add_custom_command(
    OUTPUT ${changelog}
    COMMAND ${SIGNCHECK_GZIP} -9 -n -c ${debian_dir}/changelog > ${changelog}
    DEPENDS ${debian_dir}/changelog
    VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog})
else()
  set(changelog ${debian_dir}/changelog)
endif()
set(packages signcheck)
if(TARGET signtool)
  list(APPEND packages signtool)
endif()
foreach(package IN LISTS packages)
  install(FILES ${debian_dir}/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package})
endforeach()

# The public half of each compiled-in key, named by its ID, so that what an
# installed signcheck accepts can be read without running it: the file the
# key reader wrote back (the ID comment and p, q, g, y), never the file given,
# which may hold anything else.
foreach(key_file key_id IN ZIP_LISTS SIGNCHECK_BUILTIN_PUBLIC_KEYS SIGNCHECK_KEY_IDS)
  install(FILES ${key_file} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/signcheck RENAME ${key_id}.pub
          COMPONENT signcheck)
endforeach()

signcheck_fortify(signcheck filedigest)
if(TARGET signtool)
  signcheck_fortify(signtool)
endif()

# Drops the .comment section (compiler versions) from installed programs, as
# Debian's own packaging does.
function(signcheck_drop_comment program component)
  if(CMAKE_OBJCOPY)
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")"
            COMPONENT ${component})
  endif()
endfunction()
signcheck_drop_comment(signcheck signcheck)
signcheck_drop_comment(filedigest signcheck)
if(TARGET signtool)
  signcheck_drop_comment(signtool signtool)
endif()

# The lintian override for static linking, installed only when the programs
# are static (no program interpreter).
install(CODE "
  execute_process(COMMAND \"${CMAKE_READELF}\" -l \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/signcheck\"
                  OUTPUT_VARIABLE headers RESULT_VARIABLE status)
  if(status EQUAL 0 AND NOT headers MATCHES \"INTERP\")
    file(INSTALL \"${debian_dir}/signcheck.lintian-overrides\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides\"
         RENAME signcheck)
  endif()" COMPONENT signcheck)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME signcheck)
# A build with keys of its own carries the key serial and the key IDs in its
# version, +keyset<serial>.<ID>[.<ID>...], so that its packages and the
# development key's are told apart by dpkg and apt, not by their descriptions
# alone.  dpkg compares the serial as a number, so each step of a rotation
# (old, old;new, new), with the serial raised, is an upgrade whatever the
# IDs; they follow in the order compiled in, joined by dots.  "keyset" sorts
# above the +key<ID> of earlier builds, which had no serial.
if(SIGNCHECK_DEVELOPMENT_KEY_BUILD)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
else()
  list(JOIN SIGNCHECK_KEY_IDS . key_ids)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}+keyset${SIGNCHECK_KEY_SERIAL}.${key_ids})
  message(STATUS "Package version: ${CPACK_PACKAGE_VERSION} (raise SIGNCHECK_KEY_SERIAL at the next key rotation)")
  unset(key_ids)
endif()
set(CPACK_PACKAGE_CONTACT ${SIGNCHECK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${packages})
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SIGNCHECK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_SIGNCHECK_PACKAGE_NAME signcheck)
set(CPACK_DEBIAN_SIGNTOOL_PACKAGE_NAME signtool)

# Summaries and long descriptions, one line each as the package shows them.
# The first line of each is the summary: the project's own must not be put
# ahead of it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
if(SIGNCHECK_DEVELOPMENT_KEY_BUILD)
  set(CPACK_COMPONENT_SIGNCHECK_DISPLAY_NAME "signature checker built with the public development key")
  set(key_note
    "This build has the development key compiled in, whose private half is\n"
    "public: anyone can sign files that it accepts.  For testing only.\n")
else()
  set(CPACK_COMPONENT_SIGNCHECK_DISPLAY_NAME "signature checker for signed update information files")
  set(key_note "The compiled-in key has the ID ${SIGNCHECK_KEY_ID}.\n")
endif()
list(LENGTH SIGNCHECK_KEY_IDS key_count)
if(key_count EQUAL 1)
  string(APPEND key_note
    "`signtool id /usr/bin/signcheck` (package signtool) prints that ID, and\n"
    "the public key is installed as /usr/share/signcheck/${SIGNCHECK_KEY_ID}.pub.\n")
else()
  # One ID a line: the lines stay short whatever the count.
  list(JOIN SIGNCHECK_KEY_IDS "\n" id_lines)
  set(key_note
    "A file signed with any of the compiled-in keys is accepted; they have\n"
    "the IDs\n${id_lines}\n"
    "`signtool id /usr/bin/signcheck` (package signtool) prints those IDs, and\n"
    "each public key is installed as /usr/share/signcheck/<ID>.pub.\n")
  unset(id_lines)
endif()
unset(key_count)
string(CONCAT CPACK_COMPONENT_SIGNCHECK_DESCRIPTION
  "${CPACK_COMPONENT_SIGNCHECK_DISPLAY_NAME}\n"
  "signcheck checks the DSA signature of signed update information files:\n"
  "lists of update locations and of messages, update list files and URL list\n"
  "files, against a public key compiled into the program.\n"
  "filedigest prints the SHA-256 digest of a file.\n"
  ${key_note})
string(CONCAT CPACK_COMPONENT_SIGNTOOL_DESCRIPTION
  "key and signing tool for signcheck\n"
  "signtool makes key pairs, prints key IDs and the key constants compiled\n"
  "into signcheck, and signs files in each of the layouts that signcheck\n"
  "reads.\n")

find_program(SIGNCHECK_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(SIGNCHECK_DPKG_SHLIBDEPS)
if(SIGNCHECK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_SIGNCHECK_PACKAGE_DEPENDS "libc6")
  set(CPACK_DEBIAN_SIGNTOOL_PACKAGE_DEPENDS "libc6, libgcc-s1, libssl3, libstdc++6")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/PackagingLib.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/PackagingPython.cmake)
include(CPack)
