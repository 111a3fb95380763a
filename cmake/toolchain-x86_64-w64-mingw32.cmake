# 64-bit Windows, the same sources as the 32-bit DLL: runs the Windows tests under wine64 on
# machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TAVELO_MINGW_TRIPLET x86_64-w64-mingw32)
set(TAVELO_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
