// Element access, shape queries, copy and fill, promotion, transposition, element-wise
// arithmetic and the small products of the multibody functions.
#include <cstring>

#include "source/buffer_take.h"
#include "source/matrixop.h"

int32_t ArrayLinearIndexList(int32_t ndims, const int32_t* dims, va_list subscripts) {
  int64_t index = 0;
  for (int32_t k = 0; k < ndims; ++k) {
    const int32_t j = va_arg(subscripts, int32_t);
    const int32_t dim = dims[k];
    model_assert((j >= 1) && (j <= dim), "(j>=1)&&(j<=dim)", "Index out of bounds");
    index = index * dim + (j - 1);
  }
  return static_cast<int32_t>(index);
}

int32_t ArrayLinearIndex(int32_t ndims, const int32_t* dims, ...) {
  va_list args;
  va_start(args, dims);
  const int32_t index = ArrayLinearIndexList(ndims, dims, args);
  va_end(args);
  return index;
}

int32_t RealMatchingSizes(RealArray a, RealArray b) {
  if (a.ndims != b.ndims) return 0;
  for (int32_t k = 0; k < a.ndims; ++k)
    if (a.dims[k] != b.dims[k]) return 0;
  return 1;
}

double RealArrayGet(RealArray a, ...) {
  va_list args;
  va_start(args, a);
  const int32_t index = ArrayLinearIndexList(a.ndims, a.dims, args);
  va_end(args);
  return a.data[index];
}

int32_t RealArraySet(double x, RealArray a, ...) {
  va_list args;
  va_start(args, a);
  const int32_t index = ArrayLinearIndexList(a.ndims, a.dims, args);
  va_end(args);
  a.data[index] = x;
  return index;
}

int32_t ArraySize(RealArray a, int32_t i) {
  model_assert((i >= 1) && (i <= a.ndims), "(i>=1)&&(i<=a.ndims)",
               "Size must be between 1 and ndims of array");
  return a.dims[i - 1];
}

RealArray RealVectorMake(int32_t n, ...) {
  RealArray r = RealVectorAlloc(n);
  va_list args;
  va_start(args, n);
  for (int32_t k = 0; k < n; ++k) r.data[k] = va_arg(args, double);
  va_end(args);
  return r;
}

void RealArrayAssign(RealArray dst, RealArray src) {
  model_assert(RealMatchingSizes(dst, src), "RealMatchingSizes(a,b)",
               "Array dimensions did not match");
  const int64_t count = ArrayElementCount(dst.ndims, dst.dims);
  if (count > 0 && dst.data != src.data)
    std::memmove(dst.data, src.data, static_cast<size_t>(count) * sizeof(double));
}

RealArray RealArrayFill(RealArray a, double x) {
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) a.data[k] = x;
  return a;
}

RealArray RealArrayPromote(RealArray a, int32_t n) {
  model_assert(n >= a.ndims, "n>=a.ndims", "Promote cannot decrease number of dimensions");
  int32_t* dims = TakeSizes(n);
  for (int32_t k = 0; k < n; ++k) dims[k] = k < a.ndims ? a.dims[k] : 1;
  return RealArray{n, dims, a.data};
}

RealArray RealArrayTranspose(RealArray a) {
  model_assert(a.ndims >= 2, "a.ndims>=2", "transpose requires ndims>=2");
  int32_t* dims = TakeSizes(a.ndims);
  dims[0] = a.dims[1];
  dims[1] = a.dims[0];
  for (int32_t k = 2; k < a.ndims; ++k) dims[k] = a.dims[k];
  RealArray r{a.ndims, dims, TakeReals(ArrayElementCount(a.ndims, dims))};
  const int64_t n0 = a.dims[0], n1 = a.dims[1];
  const int64_t m = ArrayElementCount(a.ndims - 2, a.dims + 2);
  for (int64_t i = 0; i < n1; ++i)
    for (int64_t j = 0; j < n0; ++j)
      for (int64_t k = 0; k < m; ++k) r.data[(i * n0 + j) * m + k] = a.data[(j * n1 + i) * m + k];
  return r;
}

RealArray RealArrayAddInto(RealArray res, RealArray a, RealArray b) {
  model_assert(RealMatchingSizes(a, b), "RealMatchingSizes(a,b)",
               "Add of arrays require arguments of matching size");
  model_assert(RealMatchingSizes(res, a), "RealMatchingSizes(res,a)",
               "Add of arrays require result of matching size");
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) res.data[k] = a.data[k] + b.data[k];
  return res;
}

RealArray RealArraySubInto(RealArray res, RealArray a, RealArray b) {
  model_assert(RealMatchingSizes(a, b), "RealMatchingSizes(a,b)",
               "Subtract of arrays require arguments of matching size");
  model_assert(RealMatchingSizes(res, a), "RealMatchingSizes(res,a)",
               "Subtract of arrays require result of matching size");
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) res.data[k] = a.data[k] - b.data[k];
  return res;
}

RealArray RealArrayScaleInto(RealArray res, RealArray a, double x) {
  model_assert(RealMatchingSizes(res, a), "RealMatchingSizes(res,a)",
               "Array times scalar require result of matching size");
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) res.data[k] = x * a.data[k];
  return res;
}

RealArray RealArrayNegateInto(RealArray res, RealArray a) {
  model_assert(RealMatchingSizes(res, a), "RealMatchingSizes(res,a)",
               "Negating a matrix require result of matching size");
  const int64_t count = ArrayElementCount(a.ndims, a.dims);
  for (int64_t k = 0; k < count; ++k) res.data[k] = -a.data[k];
  return res;
}

RealArray RealArrayAdd(RealArray a, RealArray b) {
  return RealArrayAddInto(RealArrayAllocDims(a.ndims, a.dims), a, b);
}

RealArray RealArraySub(RealArray a, RealArray b) {
  return RealArraySubInto(RealArrayAllocDims(a.ndims, a.dims), a, b);
}

RealArray RealArrayScale(RealArray a, double x) {
  return RealArrayScaleInto(RealArrayAllocDims(a.ndims, a.dims), a, x);
}

RealArray RealArrayNegate(RealArray a) {
  return RealArrayNegateInto(RealArrayAllocDims(a.ndims, a.dims), a);
}

RealArray RealCross(RealArray x, RealArray y) {
  RealArray r = RealVectorAlloc(3);
  model_assert((x.ndims == 1) && (y.ndims == 1), "(x.ndims==1)&&(y.ndims==1)",
               "cross requires vector input");
  model_assert(x.dims[0] == 3, "x.dims[0]==3", "cross requires 3-vector input for first argument");
  model_assert(y.dims[0] == 3, "y.dims[0]==3", "cross requires 3-vector input for second argument");
  const double* a = x.data;
  const double* b = y.data;
  r.data[0] = a[1] * b[2] - a[2] * b[1];
  r.data[1] = a[2] * b[0] - a[0] * b[2];
  r.data[2] = a[0] * b[1] - a[1] * b[0];
  return r;
}

RealArray RealSkew(RealArray x) {
  RealArray r = RealMatrixAlloc(3, 3);
  model_assert(x.ndims == 1, "x.ndims==1", "skew requires vector input");
  model_assert(x.dims[0] == 3, "x.dims[0]==3", "skew requires 3-vector input");
  const double x1 = RealArrayGet(x, 1), x2 = RealArrayGet(x, 2), x3 = RealArrayGet(x, 3);
  RealArraySet(0.0, r, 1, 1);
  RealArraySet(-x3, r, 1, 2);
  RealArraySet(x2, r, 1, 3);
  RealArraySet(x3, r, 2, 1);
  RealArraySet(0.0, r, 2, 2);
  RealArraySet(-x1, r, 2, 3);
  RealArraySet(-x2, r, 3, 1);
  RealArraySet(x1, r, 3, 2);
  RealArraySet(0.0, r, 3, 3);
  return r;
}

RealArray RealMatMulInto(RealArray res, RealArray a, RealArray b) {
  model_assert(res.ndims == 2, "res.ndims==2", "Matrix multiply gives a matrix as result");
  model_assert(a.ndims == 2, "a.ndims==2",
               "Matrix multiply requires that first operand is a matrix");
  model_assert(b.ndims == 2, "b.ndims==2",
               "Matrix multiply requires that second operand is a matrix");
  model_assert(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
               "Matrix multiply requires that first dimension of result and first argument match");
  model_assert(res.dims[1] == b.dims[1], "res.dims[1]==b.dims[1]",
               "Matrix multiply requires that second dimension of result and second argument "
               "match");
  model_assert(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
               "Matrix multiply requires that inner dimensions of operands match");
  const int64_t n = a.dims[0], p = a.dims[1], m = b.dims[1];
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < m; ++j) {
      double sum = 0.0;
      for (int64_t k = 0; k < p; ++k) sum += a.data[i * p + k] * b.data[k * m + j];
      res.data[i * m + j] = sum;
    }
  return res;
}

RealArray RealMatVecInto(RealArray res, RealArray a, RealArray b) {
  model_assert(a.ndims == 2, "a.ndims==2",
               "Matrix times vector requires a matrix as first operand");
  model_assert(b.ndims == 1, "b.ndims==1",
               "Matrix times vector requires a vector as second operand");
  model_assert(res.ndims == 1, "res.ndims==1", "Matrix times vector gives a vector result");
  model_assert(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
               "Matrix times vector: requires size(M*v,1)=size(M,1)");
  model_assert(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
               "Matrix times vector: requires size(M,2)==size(v,1)");
  const int64_t n = a.dims[0], m = a.dims[1];
  for (int64_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int64_t j = 0; j < m; ++j) sum += a.data[i * m + j] * b.data[j];
    res.data[i] = sum;
  }
  return res;
}

double RealScalarProduct(RealArray a, RealArray b) {
  model_assert(a.ndims == 1, "a.ndims==1", "Scalar product requires vector as first operand");
  model_assert(b.ndims == 1, "b.ndims==1", "Scalar product requires vector as second operand");
  model_assert(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]",
               "Scalar product requires vectors of matching size");
  double sum = 0.0;
  for (int32_t i = 0; i < a.dims[0]; ++i) sum += a.data[i] * b.data[i];
  return sum;
}

// The result is sized from the operands before RealMatMulInto checks them; a missing extent
// counts as 0, so no extent beyond an operand's ndims is read.
RealArray RealMatMul(RealArray a, RealArray b) {
  const int32_t n = a.ndims >= 1 ? a.dims[0] : 0;
  const int32_t m = b.ndims >= 2 ? b.dims[1] : 0;
  return RealMatMulInto(RealMatrixAlloc(n, m), a, b);
}

RealArray RealMatVec(RealArray a, RealArray b) {
  const int32_t n = a.ndims >= 1 ? a.dims[0] : 0;
  return RealMatVecInto(RealVectorAlloc(n), a, b);
}
