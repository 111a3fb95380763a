// The unload entry: gives back what the library still holds when a host unloads it. On
// Windows the load entry (dll_main_windows.cpp) calls it; elsewhere a destructor of the library
// does, at dlclose and at process exit.
#include "fmi/unload.h"

#include "runtime/clocale_platform.h"

#if defined(TAVELO_STATIC_CXX_RUNTIME)
// libstdc++'s release of its emergency exception pool: the block it allocates as it is loaded,
// from which it serves a throw when malloc fails. Declared by no header.
namespace __gnu_cxx {
void __freeres() noexcept;
}
#endif

void release_at_unload() {
  clocale_unload();
#if defined(TAVELO_STATIC_CXX_RUNTIME)
  // Only the library's own copy of the runtime; a runtime shared with the host (the sanitizer
  // build links it so) keeps its pool. Last: the runtime nulls the pool's block but keeps its
  // free list, so a throw that found malloc failing after this would use the freed block. After
  // dlclose no code of the library runs; at process exit a later destructor of the host may
  // still call in, and its throws take malloc's memory as before.
  __gnu_cxx::__freeres();
#endif
}

#if !defined(_WIN32)
// Destructors of priority 101 run after every other destructor of the library, its C++
// runtime's included.
__attribute__((destructor(101))) static void unload_library() { release_at_unload(); }
#endif
