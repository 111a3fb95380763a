// The platform's wildcard directory search and file status, as the directory stream uses
// them. One implementation per platform stands behind this header (dir_search_posix.cpp over
// stat/opendir/readdir/closedir); each fills the same find record and keeps the same handle
// and result conventions.
#pragma once

#include <cstdint>

// Capacity of the name in the find record, NUL included.
constexpr int DirFindNameSize = 260;

// The find record that a search fills with its current match. Only the name is read by the
// directory stream; a platform that has the other fields at no extra cost fills them, the
// others leave them 0.
struct DirFindData {
  uint32_t attributes;
  int64_t timeCreate;
  int64_t timeAccess;
  int64_t timeWrite;
  uint32_t size;
  char name[DirFindNameSize];
};

// A search handle; DirNoSearch when no search is open.
using DirSearchHandle = intptr_t;
constexpr DirSearchHandle DirNoSearch = -1;

// Result of starting or continuing a search.
enum class DirFindResult {
  Match,   // the next match is in the find record
  End,     // no further match
  Failed,  // the directory could not be opened or read; errno holds the cause
};

// What the file status of a path says.
enum class DirPathKind {
  Unavailable,  // no status (the path does not exist or cannot be reached)
  Other,        // not a directory
  Directory,
};
DirPathKind dir_path_kind(const char* path);

// Starts a search over pattern (a directory name followed by a separator and "*") and puts
// its first match into data. On Match the search is open in *handle; on End and Failed nothing
// stays open and *handle is DirNoSearch.
DirFindResult dir_find_first(const char* pattern, DirFindData* data, DirSearchHandle* handle);
// The next match of an open search. The search stays open whatever the result.
DirFindResult dir_find_next(DirSearchHandle handle, DirFindData* data);
// Ends an open search: 0 on success, -1 with errno set on failure.
int dir_find_close(DirSearchHandle handle);

// Test seam: failures that a disk or the permissions would cause, made on demand (tests run
// with privileges that open every directory, and real disks give no read errors). Zero, as
// at load, means no fault. Every platform's layer honours it.
struct DirSearchFaults {
  int openErrno;      // nonzero: starting a search fails with this errno
  int readErrno;      // nonzero: reads fail with this errno once readsLeft reads succeeded
  int32_t readsLeft;  // successful reads (first matches included) before that failure
  int closeErrno;     // nonzero: ending a search fails with this errno (it is ended all the same)
};
extern DirSearchFaults dirSearchFaults;
