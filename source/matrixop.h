// The array runtime: fixed process-wide buffers from which generated code and translated
// Modelica functions take array storage by moving a pointer forward, the marks that release
// that storage wholesale, the array records and the operations on them.
//
// Every check goes through model_assert: a failed check logs its condition text and raises a
// model error, which never returns to the caller.
//
// Variadic lists (extents, subscripts, element values) follow the calling convention of the
// generated code: int32 words and doubles through "...". Index vectors in subscript lists are
// passed as IntegerArray records by value.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "runtime/output.h"

// ---------------------------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------------------------

constexpr int32_t RealbufferSize = 50000;
constexpr int32_t IntegerbufferSize = 10000;
constexpr int32_t SizebufferSize = 50000;
constexpr int32_t StringbufferSize = 10000;
constexpr int32_t simplestringSize = 100000;

extern double Realbuffer[RealbufferSize];
extern int32_t Integerbuffer[IntegerbufferSize];
extern int32_t Sizebuffer[SizebufferSize];
extern char* Stringbuffer[StringbufferSize];
extern char simplestring[simplestringSize];

// One past the last element of each buffer.
extern double* const EndRealbuffer;
extern int32_t* const EndIntegerbuffer;
extern int32_t* const EndSizebuffer;
extern char** const EndStringbuffer;
extern char* const Endsimplestring;

// A position in each of the four array buffers.
struct MatrixPlace {
  double* Realbuffer;
  int32_t* Integerbuffer;
  int32_t* Sizebuffer;
  char** Stringbuffer;
};

// The allocation state: place is the next free element of each buffer, base the release point
// that ReleaseTemporaries returns place to.
struct MatrixMark {
  MatrixPlace place;
  MatrixPlace base;
};

extern MatrixMark currentMark;
extern const MatrixMark startMark;  // all four buffers empty
extern char* stringmark;            // next free character of simplestring

// ---------------------------------------------------------------------------------------------
// Array records: row-major, 1-based subscripts, passed by value
// ---------------------------------------------------------------------------------------------

struct RealArray {
  int32_t ndims;
  int32_t* dims;
  double* data;
};

struct IntegerArray {
  int32_t ndims;
  int32_t* dims;
  int32_t* data;
};

struct StringArray {
  int32_t ndims;
  int32_t* dims;
  char** data;
};

// The product of the extents (1 for ndims = 0); -1 when an extent is negative. A product
// beyond the int32 range is returned as INT32_MAX + 1, which no buffer can hold.
int64_t ArrayElementCount(int32_t ndims, const int32_t* dims);

// ---------------------------------------------------------------------------------------------
// Marks
// ---------------------------------------------------------------------------------------------

// Returns currentMark as it was, then raises the release point to the current place.
MatrixMark PushMark();
// Returns currentMark.place, then raises the release point to it.
MatrixPlace PushMarkPlace();
// place := base in all four buffers.
void ReleaseTemporaries();
void PopMark(MatrixMark mark);
// Empties all five buffers.
void ResetMarks();
// ResetMarks and an empty function-name stack. The model body calls it after each group of
// equations that uses arrays; the model entry calls it after a model error, so a buffer left
// exhausted by the failed evaluation does not fail the next one.
void end_equation_reset();

// ---------------------------------------------------------------------------------------------
// Allocation
// ---------------------------------------------------------------------------------------------

RealArray RealArrayAlloc(int32_t ndims, ...);
RealArray RealArrayAllocList(int32_t ndims, va_list extents);
RealArray RealArrayAllocDims(int32_t ndims, const int32_t* dims);
RealArray RealMatrixAlloc(int32_t n, int32_t m);
RealArray RealVectorAlloc(int32_t n);
// ndims and dims set (extents copied into Sizebuffer), data null.
RealArray ArrayDimsAlloc(int32_t ndims, va_list extents);
IntegerArray IntegerArrayAllocList(int32_t ndims, va_list extents);
IntegerArray IntegerIdentity(int32_t n);
StringArray StringArrayAllocList(int32_t ndims, va_list extents);
StringArray StringArrayAlloc(int32_t ndims, ...);
StringArray StringArrayFill(StringArray a, const char* s);
// A record over existing data; only the extents are taken (from Sizebuffer).
RealArray RealArrayWrap(double* data, int32_t ndims, ...);
// Truncates toward zero; NaN gives 0, values beyond the int32 range saturate.
IntegerArray IntegerArrayFromReal(const double* values, int32_t ndims, ...);
int32_t RealToInteger32(double x);
// Shares the dims of a; the data is new.
RealArray RealArrayFromInteger(IntegerArray a);

// ---------------------------------------------------------------------------------------------
// Strings and the Modelica utility interface
// ---------------------------------------------------------------------------------------------

char* SimpleStringAlloc(size_t len);
char* ModelicaAllocateString(size_t len);
// Null where ModelicaAllocateString would fail; reports nothing.
char* ModelicaAllocateStringWithErrorReturn(size_t len);
// Formats into 4000 characters (cut if longer) in the current locale and raises a model error.
[[noreturn]] void ModelicaFormatError(const char* format, ...) TAVELO_PRINTF(1, 2);

// ---------------------------------------------------------------------------------------------
// Element access, shape, copy and fill
// ---------------------------------------------------------------------------------------------

int32_t ArrayLinearIndex(int32_t ndims, const int32_t* dims, ...);
int32_t ArrayLinearIndexList(int32_t ndims, const int32_t* dims, va_list subscripts);
int32_t RealMatchingSizes(RealArray a, RealArray b);
double RealArrayGet(RealArray a, ...);
int32_t RealArraySet(double x, RealArray a, ...);
int32_t ArraySize(RealArray a, int32_t i);
RealArray RealVectorMake(int32_t n, ...);
void RealArrayAssign(RealArray dst, RealArray src);
RealArray RealArrayFill(RealArray a, double x);

// ---------------------------------------------------------------------------------------------
// Subscripting and reshaping
// ---------------------------------------------------------------------------------------------

// Tags of a subscript list. Operands follow the tag:
//   SubscriptColon;  SubscriptRange, start, stop;  SubscriptSteppedRange, start, step, stop;
//   SubscriptIndexVector, IntegerArray;  SubscriptScalar, index;  SubscriptEnd closes the list.
enum SubscriptTag : int32_t {
  SubscriptColon = 0,
  SubscriptRange = 1,
  SubscriptSteppedRange = 2,
  SubscriptIndexVector = 3,
  SubscriptScalar = 4,
  SubscriptEnd = 5,
};

// One unpacked subscript: ranges use a (start), b (step) and c (stop), a scalar index uses a,
// an index vector uses v.
struct VAHandlerEntry {
  int32_t type;
  int32_t a;
  int32_t b;
  int32_t c;
  IntegerArray v;
};

constexpr int32_t VAHandlerSize = 100;
extern VAHandlerEntry VA_handler[VAHandlerSize];

RealArray RealArraySubscript(RealArray a, ...);
RealArray RealArraySubscriptList(RealArray a, va_list subscripts);
// Unpacks a subscript list into VA_handler, the end entry included (at most 96 entries).
VAHandlerEntry* FillVAHandler(va_list subscripts);
void SubscriptCopy(RealArray res, int64_t ro, int32_t rd, RealArray a, int64_t so, int32_t sd,
                   int64_t n, const VAHandlerEntry* e);
RealArray RealArrayPromote(RealArray a, int32_t n);
RealArray RealArrayTranspose(RealArray a);

// ---------------------------------------------------------------------------------------------
// Element-wise arithmetic and products
// ---------------------------------------------------------------------------------------------

RealArray RealArrayAddInto(RealArray res, RealArray a, RealArray b);
RealArray RealArraySubInto(RealArray res, RealArray a, RealArray b);
RealArray RealArrayScaleInto(RealArray res, RealArray a, double x);
RealArray RealArrayNegateInto(RealArray res, RealArray a);
RealArray RealArrayAdd(RealArray a, RealArray b);
RealArray RealArraySub(RealArray a, RealArray b);
RealArray RealArrayScale(RealArray a, double x);
RealArray RealArrayNegate(RealArray a);

RealArray RealCross(RealArray x, RealArray y);
RealArray RealSkew(RealArray x);
RealArray RealMatMulInto(RealArray res, RealArray a, RealArray b);
RealArray RealMatVecInto(RealArray res, RealArray a, RealArray b);
double RealScalarProduct(RealArray a, RealArray b);
RealArray RealMatMul(RealArray a, RealArray b);
RealArray RealMatVec(RealArray a, RealArray b);
