if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/TaveloLapackWindows.cmake)
  return()
endif()

# The linear-system solver calls the reference LAPACK and BLAS (Debian's liblapack-dev and
# libblas-dev). Both are linked statically from their position-independent archives, so that
# Tavelo.so carries its own copy: the shared library's version script and --exclude-libs,ALL
# keep every one of their symbols local, and a host that has loaded another LAPACK or BLAS can
# neither replace ours nor see it. The routines the solver pulls in need nothing from the
# Fortran runtime (only libm and libc).
#
# The BLAS archive is taken from the reference package's own directory, not through the
# libblas.a alternative, which may point at an optimised BLAS.
set(_tavelo_libdirs /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib64 /usr/lib)

find_file(TAVELO_LAPACK_ARCHIVE NAMES liblapack_pic.a
  PATHS ${_tavelo_libdirs} NO_DEFAULT_PATH
  DOC "Reference LAPACK, position-independent static archive (liblapack-dev)")
set(_tavelo_blas_dirs "")
foreach(dir IN LISTS _tavelo_libdirs)
  list(APPEND _tavelo_blas_dirs ${dir}/blas)
endforeach()
find_file(TAVELO_BLAS_ARCHIVE NAMES libblas.a
  PATHS ${_tavelo_blas_dirs} NO_DEFAULT_PATH
  DOC "Reference BLAS, static archive (libblas-dev)")
if(NOT TAVELO_LAPACK_ARCHIVE OR NOT TAVELO_BLAS_ARCHIVE)
  message(FATAL_ERROR "The reference LAPACK and BLAS static archives are missing: "
    "install liblapack-dev and libblas-dev (lapack: ${TAVELO_LAPACK_ARCHIVE}, "
    "blas: ${TAVELO_BLAS_ARCHIVE})")
endif()

# An archive linked into a shared library must hold position-independent code: no absolute
# 32-bit relocations anywhere in it. (libblas.a has none; its Fortran routines refer only to
# their own constants and, through the PLT, to other routines. Its C interface objects, which
# are not linked, read two globals directly; the linker would refuse such an object.)
find_program(TAVELO_READELF NAMES readelf)
if(TAVELO_READELF)
  foreach(archive IN ITEMS ${TAVELO_LAPACK_ARCHIVE} ${TAVELO_BLAS_ARCHIVE})
    execute_process(COMMAND ${TAVELO_READELF} -rW ${archive}
      OUTPUT_VARIABLE _tavelo_relocs ERROR_QUIET)
    if(_tavelo_relocs MATCHES "R_X86_64_32S? ")
      message(FATAL_ERROR "${archive} is not position-independent code")
    endif()
  endforeach()
endif()

add_library(tavelo_lapack INTERFACE)
# LAPACK before BLAS: LAPACK's routines call BLAS.
target_link_libraries(tavelo_lapack INTERFACE ${TAVELO_LAPACK_ARCHIVE} ${TAVELO_BLAS_ARCHIVE})
# The runtime's own silent xerbla_ (runtime/xerbla.cpp in tavelo_core) must be taken before
# the archives are searched; otherwise the archives' xerbla, which prints and stops the
# process, would be linked in to satisfy their own references.
target_link_options(tavelo_lapack INTERFACE -Wl,--undefined=xerbla_)
