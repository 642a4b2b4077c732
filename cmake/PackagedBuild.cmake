# How the packaged programs are built and grouped.

# Programs installed without a component name are those of the signcheck
# package; signtool and its page name theirs.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME signcheck)

# The hardening Debian expects of packaged programs: checked string and
# memory functions where the size is known, and a relocation table that is
# read-only once the program starts.  _FORTIFY_SOURCE needs optimisation, and
# the sanitizers bring checks of their own.
if(NOT SIGNCHECK_SANITIZE AND NOT SIGNCHECK_BUILD_FUZZ)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(LINKER:-z,relro,-z,now)
endif()
