# SUNDIALS CVODE for tavelo-sim, without the rest of SUNDIALS: Debian's runtime library
# libsundials_cvode.so.6 (package libsundials-cvode6), which also carries the serial vector, the
# dense matrix and the dense linear solver, and the headers of exactly its version, which
# scripts/cvode-headers.sh unpacks from Debian's libsundials-dev into a cache outside the source
# and build trees (once per version and machine). libsundials-dev itself is not needed, and
# where it is installed its headers and libraries are not used.
#
# Gives SUNDIALS_INCLUDE_DIR and TAVELO_SUNDIALS_LIBRARIES.
include(${CMAKE_CURRENT_LIST_DIR}/TaveloCacheHome.cmake)
tavelo_cache_home(_tavelo_cache_home)
set(TAVELO_CVODE_CACHE ${_tavelo_cache_home}/tavelo-cvode CACHE PATH
  "Where the headers of the installed CVODE runtime are unpacked (once per version)")

# The runtime's own file, by its soname: the unversioned link name exists only with
# libsundials-dev.
find_file(TAVELO_CVODE_LIBRARY NAMES libsundials_cvode.so.6
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib64 /usr/lib NO_DEFAULT_PATH
  DOC "Debian's CVODE runtime library (libsundials-cvode6)")
if(NOT TAVELO_CVODE_LIBRARY)
  message(FATAL_ERROR "CVODE's runtime library libsundials_cvode.so.6 is missing: install "
    "libsundials-cvode6")
endif()

execute_process(
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/cvode-headers.sh ${TAVELO_CVODE_CACHE}
  OUTPUT_VARIABLE _tavelo_cvode_include OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _tavelo_cvode_rc)
if(_tavelo_cvode_rc EQUAL 2)
  # The cache folder: the default follows XDG_CACHE_HOME and HOME at a build folder's first
  # configuration, later ones keep the folder in CMakeCache.txt.
  message(FATAL_ERROR "The cache of CVODE's headers, ${TAVELO_CVODE_CACHE}, cannot be made or "
    "written (see above). Choose another folder with -DTAVELO_CVODE_CACHE=DIR, or, for a new "
    "build folder, with XDG_CACHE_HOME (the cache is then XDG_CACHE_HOME/tavelo-cvode).")
elseif(NOT _tavelo_cvode_rc EQUAL 0 OR NOT EXISTS "${_tavelo_cvode_include}/cvode/cvode.h")
  message(FATAL_ERROR "No headers for CVODE's runtime library (cvode-headers' message above)")
endif()

# Headers and library of one release: the library's file is named after it
# (libsundials_cvode.so.6.4.1).
file(REAL_PATH ${TAVELO_CVODE_LIBRARY} _tavelo_cvode_file)
file(STRINGS ${_tavelo_cvode_include}/sundials/sundials_config.h _tavelo_cvode_version
  REGEX "^#define SUNDIALS_VERSION \"")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" _tavelo_cvode_version "${_tavelo_cvode_version}")
if(NOT _tavelo_cvode_file MATCHES "\\.so\\.${_tavelo_cvode_version}$")
  message(FATAL_ERROR "CVODE's headers (${_tavelo_cvode_version}) and library "
    "(${_tavelo_cvode_file}) are of different releases")
endif()
message(STATUS "CVODE ${_tavelo_cvode_version}: ${TAVELO_CVODE_LIBRARY}, "
  "headers in ${_tavelo_cvode_include}")

# An earlier configuration may have found libsundials-dev's headers for the same name.
unset(SUNDIALS_INCLUDE_DIR CACHE)
set(SUNDIALS_INCLUDE_DIR ${_tavelo_cvode_include})
set(TAVELO_SUNDIALS_LIBRARIES ${TAVELO_CVODE_LIBRARY})
