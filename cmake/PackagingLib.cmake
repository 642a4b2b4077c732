# SPDX-License-Identifier: ISC
# The Debian packages of libsigncheck, beside signcheck's and signtool's:
#   libsigncheck1     libsigncheck.so.1, with its symbols file and the
#                     ldconfig trigger
#   libsigncheck-dev  signcheck.h, libsigncheck.a, the libsigncheck.so link,
#                     signcheck.pc, the CMake package and libsigncheck(3)
# Included by Packaging.cmake ahead of CPack, with its debian_dir, changelog
# and key_note.
set(lib_packages libsigncheck1 libsigncheck-dev)
foreach(package IN LISTS lib_packages)
  install(FILES ${debian_dir}/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package})
endforeach()
list(APPEND CPACK_COMPONENTS_ALL ${lib_packages})

# libsigncheck1's control files, which go in under their own names.  The
# dynamic linker's cache is brought up to date by the ldconfig trigger;
# cpack adds maintainer scripts that run ldconfig themselves, and the
# package is rebuilt without them once it is made.
set(control_dir ${CMAKE_BINARY_DIR}/debian/libsigncheck1)
configure_file(${PROJECT_SOURCE_DIR}/lib/abi/libsigncheck1.symbols ${control_dir}/symbols COPYONLY)
file(WRITE ${control_dir}/shlibs "libsigncheck ${SIGNCHECK_LIB_SOVERSION} libsigncheck1 (>= ${SIGNCHECK_LIB_VERSION})\n")
file(WRITE ${control_dir}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBSIGNCHECK1_PACKAGE_CONTROL_EXTRA
    "${control_dir}/shlibs;${control_dir}/symbols;${control_dir}/triggers")
list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackagingLibScripts.cmake)
# Both install to the multiarch directory, so each architecture's can be
# installed side by side.
set(CPACK_DEBIAN_LIBSIGNCHECK1_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_LIBSIGNCHECK-DEV_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_LIBSIGNCHECK1_PACKAGE_NAME libsigncheck1)
set(CPACK_DEBIAN_LIBSIGNCHECK1_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBSIGNCHECK-DEV_PACKAGE_NAME libsigncheck-dev)
set(CPACK_DEBIAN_LIBSIGNCHECK-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBSIGNCHECK-DEV_PACKAGE_DEPENDS "libsigncheck1 (= ${CPACK_PACKAGE_VERSION})")
if(NOT SIGNCHECK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_LIBSIGNCHECK1_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

string(CONCAT CPACK_COMPONENT_LIBSIGNCHECK1_DESCRIPTION
  "library that checks signed update information files\n"
  "libsigncheck checks the DSA signature of signed update information files\n"
  "held in memory or named by path, with the same rules and compiled-in key\n"
  "as signcheck, and hands back only the bytes that the signature covers.\n"
  ${key_note})
string(CONCAT CPACK_COMPONENT_LIBSIGNCHECK-DEV_DESCRIPTION
  "library that checks signed update information files - development files\n"
  "libsigncheck checks the DSA signature of signed update information files\n"
  "held in memory or named by path, and hands back only the signed bytes.\n"
  "This package holds the C header, the static library, the pkg-config and\n"
  "CMake package files and the manual page.\n")

# Installed without the compilers' .comment section, as the programs are, and
# the static library without the debug information that only the ABI check
# of the build needs.
if(CMAKE_OBJCOPY)
  set(installed_lib "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SIGNCHECK_INSTALL_LIBDIR}/libsigncheck")
  install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                  \"${installed_lib}.so.${SIGNCHECK_LIB_VERSION}\" COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT libsigncheck1)
  install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug --remove-section=.comment
                  \"${installed_lib}.a\" COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT libsigncheck-dev)
endif()
