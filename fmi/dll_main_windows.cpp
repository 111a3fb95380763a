// The load entry of Tavelo.dll. Loading runs no model code: the entry only tells the loader
// that the library needs no per-thread attach and detach notifications.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
