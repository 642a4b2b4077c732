# SPDX-License-Identifier: ISC
# How the packaged programs are built and grouped.

# Programs installed without a component name are those of the signcheck
# package; signtool and its page name theirs.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME signcheck)

# The hardening Debian expects of packaged programs, as dpkg-buildflags gives
# it (stack protector, format checks, _FORTIFY_SOURCE, read-only relocations
# bound at start-up, position-independent code), and what newer Debian adds
# (stack clash protection, and control-flow protection on x86-64).  It goes
# on the packaged programs and the libraries of this project in them only:
# _FORTIFY_SOURCE needs optimisation, the sanitizers bring checks of their
# own, and test helpers that interpose libc functions cannot take glibc's
# fortified inline wrappers.
include(CheckCXXCompilerFlag)
set(SIGNCHECK_HARDEN OFF)
if(NOT SIGNCHECK_SANITIZE AND NOT SIGNCHECK_BUILD_FUZZ)
  set(SIGNCHECK_HARDEN ON)
  add_link_options(LINKER:-z,relro,-z,now)
endif()
set(signcheck_hardening_flags -fstack-protector-strong -Wformat -Werror=format-security)
check_cxx_compiler_flag(-fstack-clash-protection SIGNCHECK_HAVE_STACK_CLASH_PROTECTION)
if(SIGNCHECK_HAVE_STACK_CLASH_PROTECTION)
  list(APPEND signcheck_hardening_flags -fstack-clash-protection)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  check_cxx_compiler_flag(-fcf-protection SIGNCHECK_HAVE_CF_PROTECTION)
  if(SIGNCHECK_HAVE_CF_PROTECTION)
    list(APPEND signcheck_hardening_flags -fcf-protection)
  endif()
endif()

# signcheck_fortify(<target>...): the hardening flags above for the targets
# and every library of this project they link.
function(signcheck_fortify)
  if(NOT SIGNCHECK_HARDEN)
    return()
  endif()
  set(pending ${ARGN})
  set(seen)
  while(pending)
    list(POP_FRONT pending target)
    if(NOT TARGET ${target} OR target IN_LIST seen)
      continue()
    endif()
    get_target_property(imported ${target} IMPORTED)
    get_target_property(type ${target} TYPE)
    if(imported OR type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    list(APPEND seen ${target})
    target_compile_options(${target} PRIVATE ${signcheck_hardening_flags}
      "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries)
      list(APPEND pending ${libraries})
    endif()
  endwhile()
endfunction()
