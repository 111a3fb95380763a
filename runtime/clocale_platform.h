// The platform's "C" locale object behind the "C"-locale wrappers: a POSIX locale_t
// (clocale_posix.cpp) or a locale object of the Windows runtime (clocale_windows.cpp).
#pragma once

#include <cstdint>
#include <locale.h>

#if defined(_WIN32)
using CLocaleHandle = _locale_t;
#else
using CLocaleHandle = locale_t;
#endif

// 1 until the first wrapper call; the object that call made, null when it could not.
extern int32_t clocalePending;
extern CLocaleHandle clocaleHandle;

// The "C" locale object, made by the first call; after a failure it is never tried again.
CLocaleHandle clocale_handle();

// Makes a "C" locale object for all categories with the platform's function; null on failure.
CLocaleHandle clocale_create();
// Gives an object of clocale_create back (null is ignored). Only tests and clocale_unload
// give one back.
void clocale_release(CLocaleHandle handle);

// Gives the object back as the library is unloaded, and leaves the words as they are at load:
// a wrapper called after it would make a new object rather than use the freed one.
void clocale_unload();
