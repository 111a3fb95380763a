# Windows: Debian ships no LAPACK for mingw. scripts/windows-lapack.sh builds the reference
# LAPACK and BLAS of Debian's source package lapack (the release the Linux build links) with the
# toolchain of this build, into a cache outside the source and build trees, so each Windows
# target is built once per machine. Both archives, and the Fortran runtime archive the routines
# need, are linked statically into the DLL.
include(${CMAKE_CURRENT_LIST_DIR}/TaveloCacheHome.cmake)
tavelo_cache_home(_tavelo_cache_home)
set(TAVELO_LAPACK_CACHE ${_tavelo_cache_home}/tavelo-lapack CACHE PATH
  "Where the Windows builds of LAPACK and BLAS are fetched and built (once per target)")
if(NOT TAVELO_MINGW_TRIPLET)
  message(FATAL_ERROR "Windows builds use cmake/toolchain-<triplet>.cmake")
endif()

execute_process(
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/windows-lapack.sh ${TAVELO_MINGW_TRIPLET}
          ${CMAKE_TOOLCHAIN_FILE} ${TAVELO_LAPACK_CACHE}
  RESULT_VARIABLE _tavelo_lapack_rc)
if(NOT _tavelo_lapack_rc EQUAL 0)
  message(FATAL_ERROR "Building LAPACK and BLAS for ${TAVELO_MINGW_TRIPLET} failed")
endif()
set(_tavelo_lapack_lib ${TAVELO_LAPACK_CACHE}/${TAVELO_MINGW_TRIPLET}/lib)

# g++ does not take -static-libgfortran: the archive is named as it stands.
execute_process(COMMAND ${CMAKE_Fortran_COMPILER} -print-file-name=libgfortran.a
  OUTPUT_VARIABLE TAVELO_GFORTRAN_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_Fortran_COMPILER} -print-file-name=libquadmath.a
  OUTPUT_VARIABLE TAVELO_QUADMATH_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(archive IN ITEMS ${TAVELO_GFORTRAN_ARCHIVE} ${TAVELO_QUADMATH_ARCHIVE})
  if(NOT IS_ABSOLUTE "${archive}" OR NOT EXISTS "${archive}")
    message(FATAL_ERROR "${CMAKE_Fortran_COMPILER} has no ${archive}")
  endif()
endforeach()

add_library(tavelo_lapack INTERFACE)
# LAPACK before BLAS: LAPACK's routines call BLAS; then the Fortran runtime.
target_link_libraries(tavelo_lapack INTERFACE ${_tavelo_lapack_lib}/liblapack.a
  ${_tavelo_lapack_lib}/libblas.a ${TAVELO_GFORTRAN_ARCHIVE} ${TAVELO_QUADMATH_ARCHIVE})
# The runtime's own silent xerbla_ (runtime/xerbla.cpp) must be taken before the archives are
# searched, or the archive's printing, process-ending one is linked. The linker option names
# the symbol as the platform spells C names: 32-bit Windows puts an underscore in front.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(tavelo_lapack INTERFACE -Wl,--undefined=_xerbla_)
else()
  target_link_options(tavelo_lapack INTERFACE -Wl,--undefined=xerbla_)
endif()
