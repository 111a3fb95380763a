// Element access, copy, promotion, transposition, arithmetic and products of the array runtime.
#include <functional>

#include "array_runtime_fixture.h"

namespace {

using ArrayOpsTest = ArrayRuntimeTest;
using Values = std::vector<double>;

RealArray matrix(int32_t n, int32_t m, Values v) {
  RealArray a = RealMatrixAlloc(n, m);
  for (size_t k = 0; k < v.size(); ++k) a.data[k] = v[k];
  return a;
}
RealArray vector(Values v) {
  RealArray a = RealVectorAlloc(static_cast<int32_t>(v.size()));
  for (size_t k = 0; k < v.size(); ++k) a.data[k] = v[k];
  return a;
}

TEST_F(ArrayOpsTest, GetSetAndSize) {
  RealArray a = RealArrayFill(RealMatrixAlloc(3, 4), 0.0);
  EXPECT_EQ(RealArraySet(7.5, a, 2, 2), 5);
  EXPECT_EQ(a.data[5], 7.5);
  EXPECT_EQ(RealArrayGet(a, 2, 2), 7.5);
  EXPECT_EQ(ArrayLinearIndex(2, a.dims, 3, 4), 11);
  EXPECT_EQ(ArraySize(a, 1), 3);
  EXPECT_EQ(ArraySize(a, 2), 4);
  RealArray v = RealVectorMake(3, 1.0, 2.0, 3.0);
  EXPECT_EQ(values_of(v), (Values{1, 2, 3}));
}

TEST_F(ArrayOpsTest, OutOfBoundsAndSizeChecks) {
  RealArray a = RealArrayFill(RealMatrixAlloc(3, 4), 0.0);
  const Lines bounds = check_log("(j>=1)&&(j<=dim)", "Index out of bounds");
  EXPECT_EQ(raise([&] { RealArrayGet(a, 0, 1); }), bounds);
  EXPECT_EQ(raise([&] { RealArrayGet(a, 1, 5); }), bounds);
  EXPECT_EQ(raise([&] { RealArraySet(1.0, a, 4, 1); }), bounds);
  const Lines size = check_log("(i>=1)&&(i<=a.ndims)", "Size must be between 1 and ndims of array");
  EXPECT_EQ(raise([&] { ArraySize(a, 0); }), size);
  EXPECT_EQ(raise([&] { ArraySize(a, 3); }), size);
}

TEST_F(ArrayOpsTest, AssignNeedsEqualShapesNotJustCounts) {
  RealArray a = matrix(2, 2, {1, 2, 3, 4});
  RealArray b = RealArrayFill(RealMatrixAlloc(2, 2), 0.0);
  RealArrayAssign(b, a);
  EXPECT_EQ(values_of(b), (Values{1, 2, 3, 4}));
  RealArray v = vector({5, 6, 7, 8});
  EXPECT_EQ(raise([&] { RealArrayAssign(a, v); }),
            check_log("RealMatchingSizes(a,b)", "Array dimensions did not match"));
  EXPECT_EQ(RealMatchingSizes(a, b), 1);
  EXPECT_EQ(RealMatchingSizes(a, v), 0);
  EXPECT_EQ(RealMatchingSizes(a, RealMatrixAlloc(2, 3)), 0);
}

TEST_F(ArrayOpsTest, PromoteIsAViewWithTrailingOnes) {
  RealArray v = vector({1, 2, 3});
  const long realsBefore = reals_used();
  RealArray p = RealArrayPromote(v, 3);
  EXPECT_EQ(dims_of(p), (std::vector<int32_t>{3, 1, 1}));
  EXPECT_EQ(p.data, v.data);
  EXPECT_EQ(reals_used(), realsBefore);
  RealArray m = matrix(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(raise([&] { RealArrayPromote(m, 1); }),
            check_log("n>=a.ndims", "Promote cannot decrease number of dimensions"));
}

TEST_F(ArrayOpsTest, Transpose) {
  RealArray t = RealArrayTranspose(matrix(2, 3, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(dims_of(t), (std::vector<int32_t>{3, 2}));
  EXPECT_EQ(values_of(t), (Values{1, 4, 2, 5, 3, 6}));
  // A 2 x 3 x 2 array keeps each pair of its third dimension together.
  RealArray a = RealArrayAlloc(3, 2, 3, 2);
  for (int k = 0; k < 12; ++k) a.data[k] = k;
  RealArray t3 = RealArrayTranspose(a);
  EXPECT_EQ(dims_of(t3), (std::vector<int32_t>{3, 2, 2}));
  EXPECT_EQ(values_of(t3), (Values{0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11}));
  EXPECT_EQ(raise([] { RealArrayTranspose(RealVectorAlloc(3)); }),
            check_log("a.ndims>=2", "transpose requires ndims>=2"));
}

TEST_F(ArrayOpsTest, ElementWiseArithmetic) {
  RealArray a = vector({1, 2, 3});
  RealArray b = vector({10, 20, 30});
  EXPECT_EQ(values_of(RealArrayAdd(a, b)), (Values{11, 22, 33}));
  EXPECT_EQ(values_of(RealArraySub(a, b)), (Values{-9, -18, -27}));
  EXPECT_EQ(values_of(RealArrayScale(a, -2.0)), (Values{-2, -4, -6}));
  EXPECT_EQ(values_of(RealArrayNegate(a)), (Values{-1, -2, -3}));
  // The Into forms write into storage the caller owns and take nothing from the buffers.
  double out[3];
  RealArray res = RealArrayWrap(out, 1, 3);
  const long before = reals_used();
  RealArrayAddInto(res, a, b);
  EXPECT_EQ(reals_used(), before);
  EXPECT_EQ(Values(out, out + 3), (Values{11, 22, 33}));
}

struct CheckCase {
  const char* name;
  std::function<void()> f;
  const char* condition;
  const char* message;
};

TEST_F(ArrayOpsTest, ShapeChecksInTheirOrder) {
  RealArray v3 = vector({1, 2, 3});
  RealArray v2 = vector({1, 2});
  RealArray m23 = matrix(2, 3, {1, 2, 3, 4, 5, 6});
  RealArray m32 = matrix(3, 2, {1, 2, 3, 4, 5, 6});
  RealArray m22 = matrix(2, 2, {1, 2, 3, 4});
  const std::vector<CheckCase> cases = {
      {"add args", [&] { RealArrayAdd(v3, v2); }, "RealMatchingSizes(a,b)",
       "Add of arrays require arguments of matching size"},
      {"add result", [&] { RealArrayAddInto(v2, v3, v3); }, "RealMatchingSizes(res,a)",
       "Add of arrays require result of matching size"},
      {"sub args", [&] { RealArraySub(v3, m23); }, "RealMatchingSizes(a,b)",
       "Subtract of arrays require arguments of matching size"},
      {"sub result", [&] { RealArraySubInto(m22, m23, m23); }, "RealMatchingSizes(res,a)",
       "Subtract of arrays require result of matching size"},
      {"scale", [&] { RealArrayScaleInto(v2, v3, 2.0); }, "RealMatchingSizes(res,a)",
       "Array times scalar require result of matching size"},
      {"negate", [&] { RealArrayNegateInto(m22, m23); }, "RealMatchingSizes(res,a)",
       "Negating a matrix require result of matching size"},
      {"cross matrix", [&] { RealCross(v3, m23); }, "(x.ndims==1)&&(y.ndims==1)",
       "cross requires vector input"},
      {"cross first", [&] { RealCross(v2, v2); }, "x.dims[0]==3",
       "cross requires 3-vector input for first argument"},
      {"cross second", [&] { RealCross(v3, v2); }, "y.dims[0]==3",
       "cross requires 3-vector input for second argument"},
      {"skew matrix", [&] { RealSkew(m23); }, "x.ndims==1", "skew requires vector input"},
      {"skew length", [&] { RealSkew(v2); }, "x.dims[0]==3", "skew requires 3-vector input"},
      {"matmul result", [&] { RealMatMulInto(v2, m23, m32); }, "res.ndims==2",
       "Matrix multiply gives a matrix as result"},
      {"matmul first", [&] { RealMatMul(v3, m32); }, "a.ndims==2",
       "Matrix multiply requires that first operand is a matrix"},
      {"matmul second", [&] { RealMatMul(m23, v3); }, "b.ndims==2",
       "Matrix multiply requires that second operand is a matrix"},
      {"matmul rows", [&] { RealMatMulInto(m32, m23, m32); }, "res.dims[0]==a.dims[0]",
       "Matrix multiply requires that first dimension of result and first argument match"},
      {"matmul columns", [&] { RealMatMulInto(m23, m23, m32); }, "res.dims[1]==b.dims[1]",
       "Matrix multiply requires that second dimension of result and second argument match"},
      {"matmul inner", [&] { RealMatMul(m23, m23); }, "a.dims[1]==b.dims[0]",
       "Matrix multiply requires that inner dimensions of operands match"},
      {"matvec matrix", [&] { RealMatVec(v3, v3); }, "a.ndims==2",
       "Matrix times vector requires a matrix as first operand"},
      {"matvec vector", [&] { RealMatVec(m23, m32); }, "b.ndims==1",
       "Matrix times vector requires a vector as second operand"},
      {"matvec result", [&] { RealMatVecInto(m22, m23, v3); }, "res.ndims==1",
       "Matrix times vector gives a vector result"},
      {"matvec rows", [&] { RealMatVecInto(v3, m23, v3); }, "res.dims[0]==a.dims[0]",
       "Matrix times vector: requires size(M*v,1)=size(M,1)"},
      {"matvec inner", [&] { RealMatVec(m23, v2); }, "a.dims[1]==b.dims[0]",
       "Matrix times vector: requires size(M,2)==size(v,1)"},
      {"dot first", [&] { RealScalarProduct(m23, v3); }, "a.ndims==1",
       "Scalar product requires vector as first operand"},
      {"dot second", [&] { RealScalarProduct(v3, m23); }, "b.ndims==1",
       "Scalar product requires vector as second operand"},
      {"dot length", [&] { RealScalarProduct(v3, v2); }, "a.dims[0]==b.dims[0]",
       "Scalar product requires vectors of matching size"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(raise(c.f), check_log(c.condition, c.message));
  }
}

TEST_F(ArrayOpsTest, CrossAndSkew) {
  EXPECT_EQ(values_of(RealCross(vector({1, 0, 0}), vector({0, 1, 0}))), (Values{0, 0, 1}));
  EXPECT_EQ(values_of(RealCross(vector({1, 2, 3}), vector({4, 5, 6}))), (Values{-3, 6, -3}));
  RealArray k = RealSkew(vector({1, 2, 3}));
  EXPECT_EQ(dims_of(k), (std::vector<int32_t>{3, 3}));
  EXPECT_EQ(values_of(k), (Values{0, -3, 2, 3, 0, -1, -2, 1, 0}));
}

TEST_F(ArrayOpsTest, CrossTakesItsResultBeforeChecking) {
  RealArray v2 = vector({1, 2});
  const long before = reals_used();
  raise([&] { RealCross(v2, v2); });
  EXPECT_EQ(reals_used(), before + 3);
}

TEST_F(ArrayOpsTest, Products) {
  RealArray a = matrix(2, 3, {1, 2, 3, 4, 5, 6});
  RealArray b = matrix(3, 2, {7, 8, 9, 10, 11, 12});
  RealArray ab = RealMatMul(a, b);
  EXPECT_EQ(dims_of(ab), (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(values_of(ab), (Values{58, 64, 139, 154}));
  RealArray av = RealMatVec(a, vector({1, -1, 2}));
  EXPECT_EQ(values_of(av), (Values{5, 11}));
  EXPECT_EQ(RealScalarProduct(vector({1, 2, 3}), vector({4, 5, 6})), 32.0);
  // Sums run in increasing index order from 0: (1e16 + 1) - 1e16 rounds to 0, not 1.
  EXPECT_EQ(RealScalarProduct(vector({1e16, 1, -1e16}), vector({1, 1, 1})), 0.0);
}

// RealMatMul and RealMatVec size their result from the operands before the checks: they must
// not read an extent an operand does not have (the extents here are exactly ndims long).
TEST_F(ArrayOpsTest, ProductsReadNoExtentBeyondNdims) {
  OwnedArray v{{3}, {1, 2, 3}};
  OwnedArray s{{}, {1}};
  EXPECT_EQ(raise([&] { RealMatMul(v.array(), v.array()); }),
            check_log("a.ndims==2", "Matrix multiply requires that first operand is a matrix"));
  EXPECT_EQ(raise([&] { RealMatMul(s.array(), s.array()); }),
            check_log("a.ndims==2", "Matrix multiply requires that first operand is a matrix"));
  EXPECT_EQ(raise([&] { RealMatVec(s.array(), v.array()); }),
            check_log("a.ndims==2", "Matrix times vector requires a matrix as first operand"));
}

}  // namespace
