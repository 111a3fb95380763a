// The four array buffers, the allocation rule and the allocators and conversions built on it.
#include <cmath>
#include <cstdlib>

#include "source/buffer_take.h"
#include "source/matrixop.h"

double Realbuffer[RealbufferSize];
int32_t Integerbuffer[IntegerbufferSize];
int32_t Sizebuffer[SizebufferSize];
char* Stringbuffer[StringbufferSize];

constinit double* const EndRealbuffer = Realbuffer + RealbufferSize;
constinit int32_t* const EndIntegerbuffer = Integerbuffer + IntegerbufferSize;
constinit int32_t* const EndSizebuffer = Sizebuffer + SizebufferSize;
constinit char** const EndStringbuffer = Stringbuffer + StringbufferSize;

constinit const MatrixMark startMark = {{Realbuffer, Integerbuffer, Sizebuffer, Stringbuffer},
                                        {Realbuffer, Integerbuffer, Sizebuffer, Stringbuffer}};
constinit MatrixMark currentMark = {{Realbuffer, Integerbuffer, Sizebuffer, Stringbuffer},
                                    {Realbuffer, Integerbuffer, Sizebuffer, Stringbuffer}};

void FailCheck(const char* conditionText, const char* message) {
  model_assert(0, conditionText, message);
  std::abort();  // model_assert with a false condition does not return
}

namespace {

template <class T>
T* take(T*& place, T* end, int64_t k, const char* conditionText, const char* message) {
  T* old = place;
  if (k < 0 || k >= end - old) {
    place = end;
    FailCheck(conditionText, message);
  }
  place = old + k;
  return old;
}

// Copies ndims extents into Sizebuffer; data left null.
RealArray dims_from(int32_t ndims, const int32_t* dims) {
  int32_t* d = TakeSizes(ndims);
  for (int32_t i = 0; i < ndims; ++i) d[i] = dims[i];
  return RealArray{ndims, d, nullptr};
}

}  // namespace

double* TakeReals(int64_t k) {
  return take(currentMark.place.Realbuffer, EndRealbuffer, k,
              "currentMark.place.Realbuffer<EndRealbuffer",
              "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
              "uninitialized variables.\nYou can increase the size of 'Realbuffer' in "
              "mervik/source/matrixop.");
}

int32_t* TakeIntegers(int64_t k) {
  return take(currentMark.place.Integerbuffer, EndIntegerbuffer, k,
              "currentMark.place.Integerbuffer<EndIntegerbuffer",
              "Out of memory for integers\nIt could due to too large matrices, infinite recursion, "
              "or uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
              "mervik/source/matrixop.");
}

int32_t* TakeSizes(int64_t k) {
  return take(currentMark.place.Sizebuffer, EndSizebuffer, k,
              "currentMark.place.Sizebuffer<EndSizebuffer",
              "Out of memory for array dimensions\nIt could due to too many matrices, infinite "
              "recursion, or uninitialized variables.\nYou can increase the size of 'Sizebuffer' "
              "in mervik/source/matrixop.");
}

char** TakeStrings(int64_t k) {
  return take(currentMark.place.Stringbuffer, EndStringbuffer, k,
              "currentMark.place.Stringbuffer<EndStringbuffer",
              "Out of memory for strings\nIt could due to too large matrices, infinite recursion, "
              "or uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
              "mervik/source/matrixop.");
}

int64_t ArrayElementCount(int32_t ndims, const int32_t* dims) {
  bool empty = false;
  for (int32_t i = 0; i < ndims; ++i) {
    if (dims[i] < 0) return -1;
    if (dims[i] == 0) empty = true;
  }
  if (empty) return 0;
  constexpr int64_t tooMany = int64_t{INT32_MAX} + 1;
  int64_t count = 1;
  for (int32_t i = 0; i < ndims; ++i) {
    count *= dims[i];
    if (count > INT32_MAX) return tooMany;
  }
  return count;
}

RealArray ArrayDimsAlloc(int32_t ndims, va_list extents) {
  int32_t* d = TakeSizes(ndims);
  for (int32_t i = 0; i < ndims; ++i) d[i] = va_arg(extents, int32_t);
  return RealArray{ndims, d, nullptr};
}

RealArray RealArrayAllocList(int32_t ndims, va_list extents) {
  RealArray r = ArrayDimsAlloc(ndims, extents);
  r.data = TakeReals(ArrayElementCount(r.ndims, r.dims));
  return r;
}

RealArray RealArrayAlloc(int32_t ndims, ...) {
  va_list args;
  va_start(args, ndims);
  RealArray r = RealArrayAllocList(ndims, args);
  va_end(args);
  return r;
}

RealArray RealArrayAllocDims(int32_t ndims, const int32_t* dims) {
  RealArray r = dims_from(ndims, dims);
  r.data = TakeReals(ArrayElementCount(r.ndims, r.dims));
  return r;
}

RealArray RealMatrixAlloc(int32_t n, int32_t m) {
  const int32_t dims[2] = {n, m};
  return RealArrayAllocDims(2, dims);
}

RealArray RealVectorAlloc(int32_t n) { return RealArrayAllocDims(1, &n); }

IntegerArray IntegerArrayAllocList(int32_t ndims, va_list extents) {
  RealArray r = ArrayDimsAlloc(ndims, extents);
  return IntegerArray{r.ndims, r.dims, TakeIntegers(ArrayElementCount(r.ndims, r.dims))};
}

IntegerArray IntegerIdentity(int32_t n) {
  const int32_t nn[2] = {n, n};
  RealArray r = dims_from(2, nn);
  IntegerArray a{2, r.dims, TakeIntegers(ArrayElementCount(2, r.dims))};
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) a.data[int64_t{i} * n + j] = i == j ? 1 : 0;
  return a;
}

StringArray StringArrayAllocList(int32_t ndims, va_list extents) {
  RealArray r = ArrayDimsAlloc(ndims, extents);
  return StringArray{r.ndims, r.dims, TakeStrings(ArrayElementCount(r.ndims, r.dims))};
}

StringArray StringArrayAlloc(int32_t ndims, ...) {
  va_list args;
  va_start(args, ndims);
  StringArray a = StringArrayAllocList(ndims, args);
  va_end(args);
  return a;
}

StringArray StringArrayFill(StringArray a, const char* s) {
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) a.data[k] = const_cast<char*>(s);
  return a;
}

RealArray RealArrayWrap(double* data, int32_t ndims, ...) {
  va_list args;
  va_start(args, ndims);
  RealArray r = ArrayDimsAlloc(ndims, args);
  va_end(args);
  r.data = data;
  return r;
}

int32_t RealToInteger32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483648.0) return INT32_MAX;
  if (x <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(x);  // truncation toward zero, in range here
}

IntegerArray IntegerArrayFromReal(const double* values, int32_t ndims, ...) {
  va_list args;
  va_start(args, ndims);
  IntegerArray a = IntegerArrayAllocList(ndims, args);
  va_end(args);
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) a.data[k] = RealToInteger32(values[k]);
  return a;
}

RealArray RealArrayFromInteger(IntegerArray a) {
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  RealArray r{a.ndims, a.dims, TakeReals(count)};
  for (int64_t k = 0; k < count; ++k) r.data[k] = static_cast<double>(a.data[k]);
  return r;
}
