// What the library gives back as a host unloads it (dlclose, FreeLibrary), so that a host that
// loads the library anew for each run keeps nothing of the earlier ones.
#pragma once

// The "C" locale object and, where the C++ runtime is linked into the library, the emergency
// exception pool that runtime allocates as it is loaded. (The bookkeeping tables hold nothing:
// no code fills them, and only the model's reset, which nothing calls, empties them.) Called
// once, as the library goes; no model code runs after it.
void release_at_unload();
