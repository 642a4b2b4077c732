# Debian package of the installed programs and their manual pages.
#
# After a release build:
#   cpack --config build/release/CPackConfig.cmake -G DEB -B build/release/package
# gives build/release/package/signcheck_<version>_<arch>.deb, installing to /usr.
#
# signcheck and filedigest need only the C library; signtool also needs the
# C++ runtime and libcrypto.  Where dpkg-shlibdeps is found it works out the
# dependencies with their versions from the programs themselves.

set(SIGNCHECK_PACKAGE_MAINTAINER "signcheck maintainers <maintainers@signcheck.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME signcheck)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SIGNCHECK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One line each, as the package's long description shows them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "signcheck checks the DSA signature of signed update information files:\n"
  "lists of update locations and of messages, update list files and URL list\n"
  "files, against a public key compiled into the program.\n"
  "filedigest prints the SHA-256 digest of a file.\n"
  "signtool makes key pairs and signs files in each of the layouts that\n"
  "signcheck reads.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SIGNCHECK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

find_program(SIGNCHECK_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(SIGNCHECK_DPKG_SHLIBDEPS)
if(SIGNCHECK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libssl3, libstdc++6")
endif()

include(CPack)
