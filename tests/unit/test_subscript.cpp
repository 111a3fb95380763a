// Subscripting of real arrays with colons, ranges, index vectors and scalar indexes.
#include <limits>
#include <utility>

#include "array_runtime_fixture.h"

namespace {

using SubscriptTest = ArrayRuntimeTest;
using Values = std::vector<double>;
using Dims = std::vector<int32_t>;
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// An array of the given extents holding 1, 2, 3, ... in row-major order.
RealArray counting(Dims dims) {
  RealArray a = RealArrayAllocDims(static_cast<int32_t>(dims.size()), dims.data());
  for (int64_t k = 0; k < ArrayElementCount(a.ndims, a.dims); ++k) a.data[k] = double(k + 1);
  return a;
}

// An index vector over storage the test owns.
struct IndexVector {
  std::vector<int32_t> dims;
  std::vector<int32_t> data;
  IntegerArray array() {
    return IntegerArray{static_cast<int32_t>(dims.size()), dims.data(), data.data()};
  }
};

// A list of k colons and the end tag.
template <size_t... I>
RealArray colons(RealArray a, std::index_sequence<I...>) {
  return RealArraySubscript(a, ((void)I, SubscriptColon)..., SubscriptEnd);
}

TEST_F(SubscriptTest, RowsAndColumnsOfAMatrix) {
  RealArray a = counting({3, 4});
  RealArray row = RealArraySubscript(a, SubscriptScalar, 2, SubscriptColon, SubscriptEnd);
  EXPECT_EQ(dims_of(row), (Dims{4}));
  EXPECT_EQ(values_of(row), (Values{5, 6, 7, 8}));
  RealArray column = RealArraySubscript(a, SubscriptColon, SubscriptScalar, 3, SubscriptEnd);
  EXPECT_EQ(dims_of(column), (Dims{3}));
  EXPECT_EQ(values_of(column), (Values{3, 7, 11}));
  // Row 2 with the trailing dimension left without a subscript: one block of 4.
  RealArray block = RealArraySubscript(a, SubscriptScalar, 2, SubscriptEnd);
  EXPECT_EQ(dims_of(block), (Dims{4}));
  EXPECT_EQ(values_of(block), (Values{5, 6, 7, 8}));
  RealArray element = RealArraySubscript(a, SubscriptScalar, 3, SubscriptScalar, 4, SubscriptEnd);
  EXPECT_EQ(element.ndims, 0);
  EXPECT_EQ(values_of(element), (Values{12}));
}

TEST_F(SubscriptTest, IndexVectorsAndRanges) {
  IndexVector swap{{2}, {2, 1}};
  RealArray rows =
      RealArraySubscript(counting({2, 3}), SubscriptIndexVector, swap.array(), SubscriptEnd);
  EXPECT_EQ(dims_of(rows), (Dims{2, 3}));
  EXPECT_EQ(values_of(rows), (Values{4, 5, 6, 1, 2, 3}));

  RealArray a = counting({3, 4});
  RealArray r =
      RealArraySubscript(a, SubscriptRange, 2, 3, SubscriptSteppedRange, 4, -2, 1, SubscriptEnd);
  EXPECT_EQ(dims_of(r), (Dims{2, 2}));
  EXPECT_EQ(values_of(r), (Values{8, 6, 12, 10}));

  IndexVector pick{{3}, {3, 3, 1}};
  RealArray p =
      RealArraySubscript(a, SubscriptScalar, 1, SubscriptIndexVector, pick.array(), SubscriptEnd);
  EXPECT_EQ(values_of(p), (Values{3, 3, 1}));

  // Three dimensions: a middle scalar keeps the outer loop and the trailing block.
  RealArray c =
      RealArraySubscript(counting({2, 3, 2}), SubscriptColon, SubscriptScalar, 2, SubscriptEnd);
  EXPECT_EQ(dims_of(c), (Dims{2, 2}));
  EXPECT_EQ(values_of(c), (Values{3, 4, 9, 10}));
}

TEST_F(SubscriptTest, EmptyRangeSelectsNothingAndTestsNoBound) {
  RealArray a = counting({3, 4});
  // 3:1, and 9:5 whose bounds lie outside: extent 0, no checks.
  RealArray e = RealArraySubscript(a, SubscriptRange, 3, 1, SubscriptColon, SubscriptEnd);
  EXPECT_EQ(dims_of(e), (Dims{0, 4}));
  RealArray f = RealArraySubscript(a, SubscriptColon, SubscriptRange, 9, 5, SubscriptEnd);
  EXPECT_EQ(dims_of(f), (Dims{3, 0}));
  EXPECT_TRUE(values_of(f).empty());
}

// The extent of a range is the number of elements start, start + step, ... not past stop.
// A step pointing away from stop gives none, and then no bound is tested (start and stop lie
// outside the extent of 3 in some of the empty cases).
TEST_F(SubscriptTest, RangeExtentsOverATableOfRanges) {
  struct RangeCase {
    int32_t start, step, stop;
    Values values;
  };
  const std::vector<RangeCase> cases = {
      {2, 1, 3, {20, 30}},      {1, 2, 3, {10, 30}},  {1, 3, 3, {10}},
      {3, -1, 1, {30, 20, 10}}, {3, -2, 2, {30}},     {2, 5, 2, {20}},
      {2, -5, 2, {20}},         {1, 2, 2, {10}},      {3, -2, 1, {30, 10}},
      // Step pointing away from stop: empty, however short the distance.
      {2, 3, 1, {}},            {3, 2, 2, {}},        {1, -1, 2, {}},
      {2, -3, 3, {}},           {3, 1, 2, {}},        {2, 1, 1, {}},
      {5, 3, 4, {}},            {0, -2, 1, {}},       {9, 7, -4, {}},
      // At the ends of int32: stop - start does not fit in 32 bits; the extreme steps.
      {kMax, 1, kMin, {}},      {kMin, -1, kMax, {}}, {kMax, kMax, kMin, {}},
      {3, kMin, 1, {30}},       {1, kMin, 3, {}},     {1, kMax, 3, {10}},
      {3, kMax, 1, {}},
  };
  RealArray v = RealVectorMake(3, 10.0, 20.0, 30.0);
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ":" << c.step << ":" << c.stop);
    RealArray r = RealArraySubscript(v, SubscriptSteppedRange, c.start, c.step, c.stop,
                                     SubscriptEnd);
    EXPECT_EQ(dims_of(r), (Dims{static_cast<int32_t>(c.values.size())}));
    EXPECT_EQ(values_of(r), c.values);
  }
}

struct FailCase {
  const char* name;
  std::function<void()> f;
  const char* condition;
  const char* message;
};

TEST_F(SubscriptTest, ChecksAndTheirMessages) {
  RealArray v = counting({3});
  RealArray a = counting({3, 4});
  IndexVector matrixIndex{{1, 1}, {1}};
  IndexVector outside{{3}, {1, 4, 2}};
  IndexVector zero{{1}, {0}};
  const std::vector<FailCase> cases = {
      {"stop beyond extent although never reached",
       [&] { RealArraySubscript(v, SubscriptSteppedRange, 1, 2, 4, SubscriptEnd); },
       "(stop >=1)&&(stop <=a.dims[a_dim])", "Range subscripting: end out of range"},
      {"start below 1", [&] { RealArraySubscript(v, SubscriptRange, 0, 2, SubscriptEnd); },
       "(start>=1)&&(start<=a.dims[a_dim])", "Range subscripting: start out of range"},
      // Ranges over the whole of int32, either way: they have elements, so bounds are tested.
      {"range over all of int32",
       [&] { RealArraySubscript(v, SubscriptRange, kMin, kMax, SubscriptEnd); },
       "(start>=1)&&(start<=a.dims[a_dim])", "Range subscripting: start out of range"},
      {"downward range over all of int32",
       [&] { RealArraySubscript(v, SubscriptSteppedRange, kMax, -1, kMin, SubscriptEnd); },
       "(start>=1)&&(start<=a.dims[a_dim])", "Range subscripting: start out of range"},
      {"lowest step down to the lowest int32",
       [&] { RealArraySubscript(v, SubscriptSteppedRange, 1, kMin, kMin, SubscriptEnd); },
       "(stop >=1)&&(stop <=a.dims[a_dim])", "Range subscripting: end out of range"},
      // Ranges that have elements keep their checks, whichever way they run.
      {"downward stop below 1",
       [&] { RealArraySubscript(v, SubscriptSteppedRange, 3, -1, 0, SubscriptEnd); },
       "(stop >=1)&&(stop <=a.dims[a_dim])", "Range subscripting: end out of range"},
      {"downward start beyond extent",
       [&] { RealArraySubscript(v, SubscriptSteppedRange, 4, -3, 1, SubscriptEnd); },
       "(start>=1)&&(start<=a.dims[a_dim])", "Range subscripting: start out of range"},
      {"two scalars on a vector",
       [&] { RealArraySubscript(v, SubscriptScalar, 1, SubscriptScalar, 1, SubscriptEnd); },
       "ndims>0", "Internal error in subscriptring of array"},
      {"colon and scalar on a vector",
       [&] { RealArraySubscript(v, SubscriptColon, SubscriptScalar, 1, SubscriptEnd); },
       "nargs<=a.ndims", "Too many subscripts for array"},
      {"scalar out of range",
       [&] { RealArraySubscript(a, SubscriptColon, SubscriptScalar, 5, SubscriptEnd); },
       "(i>=1)&&(i<=a.dims[a_dim])", "Array subscripting: scalar index out of range"},
      {"matrix as index",
       [&] { RealArraySubscript(a, SubscriptIndexVector, matrixIndex.array(), SubscriptEnd); },
       "v.ndims==1", "Array subscripting: only vectors (and scalars) allowed as indicies"},
      {"vector index out of range",
       [&] { RealArraySubscript(a, SubscriptIndexVector, outside.array(), SubscriptEnd); },
       "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
       "Array subscripting: vector index out of range"},
      {"vector index zero",
       [&] {
         RealArraySubscript(a, SubscriptColon, SubscriptIndexVector, zero.array(), SubscriptEnd);
       },
       "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
       "Array subscripting: vector index out of range"},
      {"step 0", [&] { RealArraySubscript(v, SubscriptSteppedRange, 1, 0, 3, SubscriptEnd); },
       "step!=0", "Range subscripting: step must not be zero"},
      {"unknown tag", [&] { RealArraySubscript(a, SubscriptColon, 7, SubscriptEnd); },
       "(tag>=0)&&(tag<=5)", "Array subscripting: unknown subscript tag"},
      {"negative tag", [&] { RealArraySubscript(a, -1); }, "(tag>=0)&&(tag<=5)",
       "Array subscripting: unknown subscript tag"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(raise(c.f), check_log(c.condition, c.message));
  }
}

// The table holds 100 entries; a list may use 96 of them, the end tag included.
TEST_F(SubscriptTest, ListLengthLimit) {
  std::vector<int32_t> ones95(95, 1), ones96(96, 1);
  RealArray a95 = RealArrayFill(RealArrayAllocDims(95, ones95.data()), 4.0);
  RealArray r = colons(a95, std::make_index_sequence<95>{});  // 96 entries
  EXPECT_EQ(r.ndims, 95);
  EXPECT_EQ(values_of(r), (Values{4.0}));
  RealArray a96 = RealArrayFill(RealArrayAllocDims(96, ones96.data()), 4.0);
  EXPECT_EQ(raise([&] { colons(a96, std::make_index_sequence<96>{}); }),
            check_log("i+4<sizeof(VA_handler)/sizeof(*VA_handler)", "Out of memory for va_list"));
  // A list too long for the table on an array with fewer dimensions: the surplus is reported.
  EXPECT_EQ(raise([&] {
              colons(counting({2, 2}), std::make_index_sequence<120>{});
            }),
            check_log("nargs<=a.ndims", "Too many subscripts for array"));
}

// A list longer than the table is still validated whole, in the order of the checks: the
// surplus scalar, the nargs count and the subscripts' ranges come before the table's limit.
template <size_t... I, class... Tail>
RealArray colons_then(RealArray a, std::index_sequence<I...>, Tail... tail) {
  return RealArraySubscript(a, ((void)I, SubscriptColon)..., tail..., SubscriptEnd);
}

TEST_F(SubscriptTest, LongListIsValidatedBeforeTheTableLimit) {
  // 96 colons and three scalars on a matrix: the third scalar finds no dimension left.
  EXPECT_EQ(raise([&] {
              colons_then(counting({2, 2}), std::make_index_sequence<96>{}, SubscriptScalar, 1,
                          SubscriptScalar, 1, SubscriptScalar, 1);
            }),
            check_log("ndims>0", "Internal error in subscriptring of array"));
  // 97 entries on 96 dimensions of extent 1: the scalar index 2 is out of range.
  std::vector<int32_t> ones96(96, 1);
  RealArray a96 = RealArrayFill(RealArrayAllocDims(96, ones96.data()), 4.0);
  EXPECT_EQ(raise([&] {
              colons_then(a96, std::make_index_sequence<95>{}, SubscriptScalar, 2);
            }),
            check_log("(i>=1)&&(i<=a.dims[a_dim])", "Array subscripting: scalar index out of range"));
  // The same list with a valid index passes every check and fails only the table's limit.
  EXPECT_EQ(raise([&] {
              colons_then(a96, std::make_index_sequence<95>{}, SubscriptScalar, 1);
            }),
            check_log("i+4<sizeof(VA_handler)/sizeof(*VA_handler)", "Out of memory for va_list"));
}

TEST_F(SubscriptTest, ResultStorageComesFromTheBuffers) {
  RealArray a = counting({3, 4});
  const long reals = reals_used(), sizes = sizes_used();
  RealArraySubscript(a, SubscriptRange, 1, 2, SubscriptColon, SubscriptEnd);
  EXPECT_EQ(reals_used(), reals + 8);
  EXPECT_EQ(sizes_used(), sizes + 2);
}

}  // namespace
