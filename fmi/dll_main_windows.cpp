// The load entry of Tavelo.dll. Loading runs no model code: the entry only tells the loader
// that the library needs no per-thread attach and detach notifications. At FreeLibrary it gives
// back what the library holds (unload.cpp); at process exit it leaves that to the system, since
// the other threads are gone by then and may have left the heap's lock taken.
#include <windows.h>

#include "fmi/unload.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) release_at_unload();
  return TRUE;
}
