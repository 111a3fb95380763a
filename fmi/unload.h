// What the library gives back as a host unloads it (dlclose, FreeLibrary), so that a host that
// loads the library anew for each run keeps nothing of the earlier ones.
#pragma once

// The "C" locale object, the bookkeeping tables' blocks and, where the C++ runtime is linked
// into the library, the emergency exception pool that runtime allocates as it is loaded. Called
// once, as the library goes; no model code runs after it.
void release_at_unload();
