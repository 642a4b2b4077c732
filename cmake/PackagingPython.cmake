# SPDX-License-Identifier: ISC
# python3-signcheck: the Python package of python/ (pure Python over
# libsigncheck.so.1 through ctypes), for every architecture, installed where
# Debian's python3 finds it.  Included by Packaging.cmake ahead of CPack,
# with its debian_dir and changelog.
set(SIGNCHECK_INSTALL_PYTHONDIR lib/python3/dist-packages
    CACHE STRING "Directory below the prefix for the Python package signcheck")
install(FILES ${PROJECT_SOURCE_DIR}/python/signcheck/__init__.py ${PROJECT_SOURCE_DIR}/python/signcheck/_native.py
              ${PROJECT_SOURCE_DIR}/python/signcheck/py.typed
        DESTINATION ${SIGNCHECK_INSTALL_PYTHONDIR}/signcheck COMPONENT python3-signcheck)
install(FILES ${debian_dir}/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-signcheck COMPONENT python3-signcheck)
list(APPEND CPACK_COMPONENTS_ALL python3-signcheck)

set(CPACK_DEBIAN_PYTHON3-SIGNCHECK_PACKAGE_NAME python3-signcheck)
set(CPACK_DEBIAN_PYTHON3-SIGNCHECK_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON3-SIGNCHECK_PACKAGE_SECTION python)
# The calls it makes are those of the library built with it.
set(CPACK_DEBIAN_PYTHON3-SIGNCHECK_PACKAGE_DEPENDS
    "python3:any, libsigncheck1 (>= ${SIGNCHECK_LIB_VERSION})")
string(CONCAT CPACK_COMPONENT_PYTHON3-SIGNCHECK_DESCRIPTION
  "Python interface to libsigncheck\n"
  "The Python module signcheck checks the DSA signature of signed update\n"
  "information files, held in memory or named by path, through libsigncheck,\n"
  "and returns only the bytes that the signature covers.  It accepts the\n"
  "library's compiled-in key or public keys loaded at run time, raises an\n"
  "exception for every failure, and checks in several threads at once.\n")
