// Matrix-file library, writing half: named matrix records, an open output file, and writers
// for a line-oriented text format and for MAT version 4 binary matrices (whole matrices, and
// one matrix growing by rows at the end of the file with its header rewritten after each row).
//
// Errors: every operation that can fail returns 0 on success and 1 on failure, with the
// message in the library-wide buffer amatErrorMessage (a success leaves it as it was).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Matrix types; the code is the value of AmatMatrix::type.
enum AmatMatrixType : int32_t {
  voidMatrix = 0,       // type not specified; cannot be written
  integerMatrix = 1,    // int32 elements, column-major
  realMatrix = 2,       // 4-byte float elements, column-major
  doubleMatrix = 3,     // 8-byte double elements, column-major
  charMatrix = 4,       // nrow pointers to NUL-terminated strings (null entry: "")
  doubleRowMatrix = 5,  // nrow pointers, each to a row of ncol doubles
};

// Layout of binary matrices in a file.
enum AmatBinaryLayout : int32_t {
  binNormal = 0,  // nrow x ncol, elements in memory order
  binTrans = 1,   // the transpose, written row by row, so a matrix can grow by rows
};

// One named matrix. Ownership: after amatSet the record owns name and data, and amatFree
// releases them (for char and row matrices also every string / row). A caller that lends
// pointers it keeps itself must clear them before amatFree.
struct AmatMatrix {
  char* name;
  int32_t nrow;
  int32_t ncol;  // charMatrix: the declared width, 0 when not declared
  int32_t type;
  void* data;
  int32_t reserved1;
  int32_t reserved2;
};

// An output matrix file. Owns fileName and rowName (heap copies), freed by amatPutClose.
struct AmatFile {
  char* fileName;  // null when writing to the standard output
  FILE* fp;        // null when closed
  int32_t format;  // 0 text, 1 MAT version 4 binary
  int32_t bstruct;  // AmatBinaryLayout of binary matrices
  int32_t isFile;   // 1 when a named file was opened, 0 for the standard output
  // MAT version 4 header of the matrix being written.
  int32_t type;
  int32_t mrows;
  int32_t ncols;
  int32_t imagf;
  int32_t namlen;
  char* rowName;        // the matrix being written row by row
  int64_t headerPos;    // where its header (binary) or its dimensions (text) are rewritten
  int32_t rowType;      // 2 or 3
  int32_t rowLength;    // elements per row
  int32_t rowsWritten;  // rows written so far, text format
  int64_t rowsEnd;      // end of the last whole row, where the next begins; -1 when not known
};

constexpr size_t AmatErrorMessageSize = 1500;
// The library-wide message of the last failure; "No message." until the first one.
extern char amatErrorMessage[AmatErrorMessageSize];

// Fault injection for the allocations of the matrix-file, trajectory and result layers:
// when n >= 0, n more allocations succeed and the next one fails once with ENOMEM, as if the
// heap were exhausted; the counter is then -1 again. -1 (the default) never fails.
extern int32_t amatFailAllocationAfter;
// malloc through the fault-injection counter; the layers above allocate only through this.
void* amat_malloc(size_t size);
// A heap copy of text through amat_malloc; null when the allocation fails.
char* amat_strdup(const char* text);

AmatMatrix* amatClear(AmatMatrix* matrix);
AmatMatrix* amatSet(char* name, int32_t nrow, int32_t ncol, int32_t type, void* data,
                    AmatMatrix* matrix);
void amatFree(AmatMatrix* matrix);

int amatPutOpen(const char* fileName, int32_t format, int32_t bstruct, const char* className,
                const char* version, const char* description, AmatFile* file);
void amatPutClose(AmatFile* file);

int amatPutMatrixEx(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                    const char* const* rowComments, int indent, char pad);
int amatPutMatrixComment(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                         const char* const* rowComments, int indent);
int amatPutMatrix(AmatFile* file, const AmatMatrix* matrix);

// Binary writers of the whole matrix, one per type.
int amatBinPutInteger(AmatFile* file, const AmatMatrix* matrix);
int amatBinPutReal(AmatFile* file, const AmatMatrix* matrix);
int amatBinPutDouble(AmatFile* file, const AmatMatrix* matrix);
int amatBinPutDoubleRows(AmatFile* file, const AmatMatrix* matrix);
int amatBinPutChar(AmatFile* file, const AmatMatrix* matrix, char pad);

// Text writers of the whole matrix, one per type.
int amatTextPutInteger(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                       const char* const* rowComments, int indent);
int amatTextPutReal(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                    const char* const* rowComments, int indent);
int amatTextPutDouble(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                      const char* const* rowComments, int indent);
int amatTextPutDoubleRows(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                          const char* const* rowComments, int indent);
int amatTextPutChar(AmatFile* file, const AmatMatrix* matrix, const char* comment);

// Row-wise writing of one matrix at the end of a named file: type realMatrix, or
// doubleMatrix / doubleRowMatrix (stored as float64; the rows are given as floats either way).
int amatPutRinit(AmatFile* file, const char* name, int32_t rowLength, int32_t type);
// Appends one row of rowLength floats, rewrites the row count and flushes the stream. A row
// whose write or flush fails is reported and taken back: the file is cut where the row began,
// so it ends with the last whole row and its count, and the next append starts there again.
int amatPutRrow(AmatFile* file, const float* row);
int amatPutRclose(AmatFile* file);
