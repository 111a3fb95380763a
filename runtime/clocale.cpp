// The "C"-locale wrappers' first use, and the bookkeeping tables. The wrappers themselves live
// in the platform's file (clocale_posix.cpp, clocale_windows.cpp).
#include "runtime/clocale.h"

#include <cstdlib>

#include "runtime/clocale_platform.h"

int32_t clocalePending = 1;
CLocaleHandle clocaleHandle = CLocaleHandle{};

RunTableEntry runTableA[RunTableSize];
RunTableEntry runTableB[RunTableSize];
int32_t runTableALast = -1;
int32_t runTableBLast = -1;
int32_t runFlagA = 1;
int32_t runFlagB = 0;

CLocaleHandle clocale_handle() {
  if (clocalePending) clocaleHandle = clocale_create();
  clocalePending = 0;  // never tried again, also after a failure
  return clocaleHandle;
}

void clocale_unload() {
  clocale_release(clocaleHandle);  // null when never made or when making it failed
  clocaleHandle = CLocaleHandle{};
  clocalePending = 1;
}

int32_t free_run_tables() {
  for (int32_t i = 0; i <= runTableALast; ++i) std::free(runTableA[i].block);
  for (int32_t i = 0; i <= runTableBLast; ++i) std::free(runTableB[i].block);
  runTableALast = -1;
  runTableBLast = -1;
  return -1;
}

void reset_run_flags() {
  runFlagA = 0;
  runFlagB = 0;
}
