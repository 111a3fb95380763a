# Shared part of the Windows toolchain files: Debian's mingw-w64 cross compilers for the
# triplet that the including file sets in TAVELO_MINGW_TRIPLET, and wine to run what they build.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers of the posix thread model, whatever the system's alternatives choose: the C++
# library then has std::mutex and friends, which GoogleTest needs. Their thread library
# (libwinpthread) is linked statically like every other runtime.
set(CMAKE_C_COMPILER ${TAVELO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVELO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_Fortran_COMPILER ${TAVELO_MINGW_TRIPLET}-gfortran-posix)
set(CMAKE_RC_COMPILER ${TAVELO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVELO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry their runtimes (C++, GCC, threads), so they run under wine with no DLLs beside
# them but the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests, try_run programs and build-time tools run under wine (TAVELO_WINE_LOADER: the loader
# for this target).
find_program(TAVELO_WINE NAMES ${TAVELO_WINE_LOADER} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAVELO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVELO_WINE})
endif()
