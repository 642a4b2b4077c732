# How the packaged programs are built and grouped.

# Programs installed without a component name are those of the signcheck
# package; signtool and its page name theirs.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME signcheck)

# The hardening Debian expects of packaged programs: a relocation table that
# is read-only once the program starts, and checked string and memory
# functions where the size is known.  _FORTIFY_SOURCE needs optimisation, and
# the sanitizers bring checks of their own; it goes on the packaged programs
# and the libraries in them only, since test helpers that interpose libc
# functions cannot take glibc's fortified inline wrappers.
set(SIGNCHECK_HARDEN OFF)
if(NOT SIGNCHECK_SANITIZE AND NOT SIGNCHECK_BUILD_FUZZ)
  set(SIGNCHECK_HARDEN ON)
  add_link_options(LINKER:-z,relro,-z,now)
endif()

# signcheck_fortify(<target>...): _FORTIFY_SOURCE=2 for the targets and every
# library of this project they link.
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
    target_compile_options(${target} PRIVATE
      "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries)
      list(APPEND pending ${libraries})
    endif()
  endwhile()
endfunction()
