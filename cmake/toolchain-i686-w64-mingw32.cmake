# 32-bit Windows (the DLL hosts load): cmake --toolchain cmake/toolchain-i686-w64-mingw32.cmake
# SSE2 arithmetic on every C, C++ and Fortran compile: the x87 default rounds through 80-bit
# registers and gives other last digits than the 64-bit builds.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAVELO_MINGW_TRIPLET i686-w64-mingw32)
set(TAVELO_WINE_LOADER wine)
foreach(lang C CXX Fortran)
  set(CMAKE_${lang}_FLAGS_INIT "-msse2 -mfpmath=sse")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
