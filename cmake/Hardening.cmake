# The hardening Debian builds its packages with, as dpkg-buildflags gives it on this machine:
# fortified C library calls, stack protector, format checks, full RELRO with immediate binding,
# and position-independent executables. The optimisation and debug flags stay the build type's.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()

function(chm_buildflags name out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${DPKG_BUILDFLAGS} --get ${name}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  # The build type decides optimisation and debug information; file-prefix-map only matters to
  # Debian's reproducible paths.
  list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

chm_buildflags(CPPFLAGS hardening_cpp)
chm_buildflags(CXXFLAGS hardening_cxx)
chm_buildflags(LDFLAGS hardening_ld)
# Fortified calls need the optimiser; without it glibc warns, and warnings are errors here.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  list(FILTER hardening_cpp EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
endif()
add_compile_options(${hardening_cpp} ${hardening_cxx})
add_link_options(${hardening_ld})

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
message(STATUS "Hardening: ${hardening_cpp} ${hardening_cxx} ${hardening_ld} -fPIE -pie")
