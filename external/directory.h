// Directory listing for models: a small directory-stream layer (open, read, close, rewind,
// tell, seek) over the platform's wildcard search, and the listing function with its wrapper.
//
// The stream operations report errors through errno (each first sets it to 0): EFAULT for a
// null argument, ENOTDIR for an empty name or a path that is no directory, ENOENT for a path
// without file status, ENOMEM when the record cannot be had, EINVAL for an invalid stream or
// seek position; a failed open or read of the directory leaves the platform's errno.
#pragma once

#include <cstdint>

#include "external/dir_search.h"
#include "source/matrixop.h"

// The entry dir_read hands out. Valid, with the name it points at, until the next operation
// on the stream.
struct DirEntry {
  int32_t entryId;            // always 0
  int16_t entryRecordLength;  // always 0
  int16_t entryNameLength;    // length of the name last returned
  char* entryName;            // the name inside the stream's find record
};

// One open stream, on the heap; the search pattern follows the record in the same block.
struct DirStream {
  DirFindData findData;
  DirEntry entry;
  DirSearchHandle searchHandle;  // DirNoSearch when no search is open
  int32_t position;              // 0 before the first read, k after the k-th match, -1 at the end
};

// The search pattern of s: the directory name, a backslash unless the name ends in "/" or a
// backslash, and "*".
const char* dir_stream_pattern(const DirStream* s);

DirStream* dir_open(const char* directory);
// The next entry, or null at the end (errno 0, unless ending the search there failed) or on a
// read error (errno set).
DirEntry* dir_read(DirStream* s);
// Ends the search and frees s: 0, or -1 when ending the search failed.
int dir_close(DirStream* s);
// The next read starts again with the first match.
void dir_rewind(DirStream* s);
int dir_tell(DirStream* s);
// -1: to the end; p >= 0: after the p-th match, or to the end when there are fewer.
void dir_seek(DirStream* s, int p);

// Stores the names of the directory's entries but "." and ".." into files[0 .. nFiles-1], in
// search order, each in a string of its own. Raises a model error when the directory cannot
// be read or does not hold exactly nFiles such entries.
void internal_read_directory(const char* directory, int nFiles, char** files);
// The wrapper that generated code calls: a string array of nFiles names that outlives the
// call until the caller releases its temporaries.
StringArray ext_read_directory(const char* directory, int nFiles);
