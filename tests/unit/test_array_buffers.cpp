// Buffers, the allocation rule, marks, strings and conversions of the array runtime.
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "array_runtime_fixture.h"

namespace {

using BufferTest = ArrayRuntimeTest;

const char* const RealsMessage =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Realbuffer' in "
    "mervik/source/matrixop.";
const char* const IntegersMessage =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
    "mervik/source/matrixop.";
const char* const SizesMessage =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite recursion, "
    "or uninitialized variables.\nYou can increase the size of 'Sizebuffer' in "
    "mervik/source/matrixop.";
const char* const StringsMessage =
    "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
    "mervik/source/matrixop.";
const char* const RealsCondition = "currentMark.place.Realbuffer<EndRealbuffer";
const char* const IntegersCondition = "currentMark.place.Integerbuffer<EndIntegerbuffer";
const char* const SizesCondition = "currentMark.place.Sizebuffer<EndSizebuffer";
const char* const StringsCondition = "currentMark.place.Stringbuffer<EndStringbuffer";

IntegerArray IntegerAlloc(int32_t ndims, ...) {
  va_list args;
  va_start(args, ndims);
  IntegerArray a = IntegerArrayAllocList(ndims, args);
  va_end(args);
  return a;
}

// Takes k elements of one buffer through a public allocator.
struct BufferCase {
  const char* name;
  int32_t capacity;
  std::function<void(int32_t)> take;
  std::function<long()> used;
  const char* condition;
  const char* message;
};

std::vector<BufferCase> buffer_cases() {
  return {
      {"Realbuffer", RealbufferSize, [](int32_t k) { RealVectorAlloc(k); },
       [] { return static_cast<long>(currentMark.place.Realbuffer - Realbuffer); }, RealsCondition,
       RealsMessage},
      {"Integerbuffer", IntegerbufferSize, [](int32_t k) { IntegerAlloc(1, k); },
       [] { return static_cast<long>(currentMark.place.Integerbuffer - Integerbuffer); },
       IntegersCondition, IntegersMessage},
      {"Sizebuffer", SizebufferSize,
       [](int32_t k) {
         std::vector<int32_t> ones(k, 1);
         RealArrayAllocDims(k, ones.data());
       },
       [] { return static_cast<long>(currentMark.place.Sizebuffer - Sizebuffer); }, SizesCondition,
       SizesMessage},
      {"Stringbuffer", StringbufferSize, [](int32_t k) { StringArrayAlloc(1, k); },
       [] { return static_cast<long>(currentMark.place.Stringbuffer - Stringbuffer); },
       StringsCondition, StringsMessage},
  };
}

TEST_F(BufferTest, AllocationTakesDimsThenData) {
  RealArray a = RealArrayAlloc(2, 3, 4);
  EXPECT_EQ(dims_of(a), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(a.dims, Sizebuffer);
  EXPECT_EQ(a.data, Realbuffer);
  EXPECT_EQ(sizes_used(), 2);
  EXPECT_EQ(reals_used(), 12);
  // A request for nothing returns the current place without moving it.
  RealArray empty = RealVectorAlloc(0);
  EXPECT_EQ(empty.data, Realbuffer + 12);
  EXPECT_EQ(reals_used(), 12);
}

// A buffer of N elements holds N - 1: the last element is never handed out, the failure logs
// the buffer's condition, then the report with the time line and the buffer's message.
TEST_F(BufferTest, EachBufferHoldsOneLessThanItsSize) {
  for (const BufferCase& c : buffer_cases()) {
    SCOPED_TRACE(c.name);
    ResetMarks();
    c.take(c.capacity - 1);
    EXPECT_EQ(c.used(), c.capacity - 1);
    EXPECT_EQ(raise([&] { c.take(1); }), check_log(c.condition, c.message));
    ResetMarks();
    EXPECT_EQ(raise([&] { c.take(c.capacity); }), check_log(c.condition, c.message));
  }
}

TEST_F(BufferTest, FailedRequestLeavesBufferExhaustedUntilReleased) {
  PushMark();
  const double* before = currentMark.place.Realbuffer;
  raise([] { RealVectorAlloc(RealbufferSize); });
  EXPECT_EQ(currentMark.place.Realbuffer, EndRealbuffer);
  // Even an empty request fails now, with the same check.
  EXPECT_EQ(raise([] { RealVectorAlloc(0); }), check_log(RealsCondition, RealsMessage));
  ReleaseTemporaries();
  EXPECT_EQ(currentMark.place.Realbuffer, before);
  RealVectorAlloc(0);
}

TEST_F(BufferTest, SizeMessageWinsWhenBothBuffersAreShort) {
  currentMark.place.Realbuffer = EndRealbuffer - 1;
  currentMark.place.Sizebuffer = EndSizebuffer - 1;
  EXPECT_EQ(raise([] { RealVectorAlloc(5); }), check_log(SizesCondition, SizesMessage));
}

// Negative extents and element counts beyond the int32 range fail the data buffer's check; a
// negative number of dimensions fails the size buffer's. Nothing outside a buffer is handed out.
TEST_F(BufferTest, NegativeAndOverflowingRequestsFailTheBufferCheck) {
  struct Case {
    const char* name;
    std::function<void()> f;
    const char* condition;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"negative extent", [] { RealArrayAlloc(1, -1); }, RealsCondition, RealsMessage},
      {"negative times negative", [] { RealArrayAlloc(2, -2, -3); }, RealsCondition, RealsMessage},
      {"product beyond int32", [] { RealArrayAlloc(2, 65536, 65536); }, RealsCondition,
       RealsMessage},
      {"product wraps to small", [] { RealArrayAlloc(3, 65536, 65536, 65536); }, RealsCondition,
       RealsMessage},
      {"matrix of INT32_MAX rows", [] { RealMatrixAlloc(INT32_MAX, 2); }, RealsCondition,
       RealsMessage},
      {"negative ndims", [] { RealArrayAlloc(-1); }, SizesCondition, SizesMessage},
      {"negative identity", [] { IntegerIdentity(-3); }, IntegersCondition, IntegersMessage},
      {"identity of 100", [] { IntegerIdentity(100); }, IntegersCondition, IntegersMessage},
      {"identity overflow", [] { IntegerIdentity(46341); }, IntegersCondition, IntegersMessage},
      {"negative string extent", [] { StringArrayAlloc(1, -5); }, StringsCondition, StringsMessage},
      {"negative wrap ndims", [] { RealArrayWrap(nullptr, -2); }, SizesCondition, SizesMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMarks();
    RealVectorAlloc(10);  // a partly filled buffer: what is left is what counts
    EXPECT_EQ(raise(c.f), check_log(c.condition, c.message));
  }
  // A request that exceeds only what is left fails as well.
  ResetMarks();
  RealVectorAlloc(RealbufferSize - 100);  // 99 left that can be handed out
  EXPECT_EQ(raise([] { RealVectorAlloc(100); }), check_log(RealsCondition, RealsMessage));
}

TEST_F(BufferTest, ArrayElementCount) {
  const int32_t d[] = {3, 0, -1, 65536, 65536};
  EXPECT_EQ(ArrayElementCount(0, nullptr), 1);
  EXPECT_EQ(ArrayElementCount(1, d), 3);
  EXPECT_EQ(ArrayElementCount(2, d), 0);
  EXPECT_EQ(ArrayElementCount(3, d), -1);  // a negative extent wins over a zero one
  EXPECT_EQ(ArrayElementCount(2, d + 3), int64_t{INT32_MAX} + 1);
}

// The mark discipline of a translated function: an output vector of 4 survives, its
// temporaries do not, and the caller's release point is untouched.
RealArray function_with_temporaries(double x) {
  MatrixMark saved = PushMark();
  RealArray out = RealArrayAlloc(1, 4);
  saved.place = PushMarkPlace();
  RealArrayFill(out, 0.0);
  RealArray tmp = RealArrayFill(RealVectorAlloc(100), x);
  RealArrayAssign(out, RealArraySubscript(tmp, SubscriptRange, 1, 4, SubscriptEnd));
  ReleaseTemporaries();
  PopMark(saved);
  return out;
}

TEST_F(BufferTest, FunctionOutputSurvivesItsPopMark) {
  RealVectorAlloc(7);
  PushMark();
  const MatrixMark before = currentMark;
  RealArray r = function_with_temporaries(2.5);
  EXPECT_EQ(currentMark.place.Realbuffer, before.place.Realbuffer + 4);
  EXPECT_EQ(currentMark.place.Sizebuffer, before.place.Sizebuffer + 1);
  EXPECT_EQ(currentMark.base.Realbuffer, before.base.Realbuffer);
  EXPECT_EQ(currentMark.base.Sizebuffer, before.base.Sizebuffer);
  EXPECT_EQ(r.data, before.place.Realbuffer);
  EXPECT_EQ(values_of(r), (std::vector<double>{2.5, 2.5, 2.5, 2.5}));
  ReleaseTemporaries();  // the caller's release drops the output
  EXPECT_EQ(currentMark.place.Realbuffer, before.place.Realbuffer);
}

TEST_F(BufferTest, EndEquationResetEmptiesBuffersAndStack) {
  FunctionFrame frame{"f(x)", nullptr};
  modelRuntime.functionStack = &frame;
  RealArrayAlloc(2, 3, 4);
  IntegerIdentity(2);
  StringArrayAlloc(1, 3);
  ModelicaAllocateString(10);
  PushMark();
  end_equation_reset();
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
  EXPECT_EQ(std::memcmp(&currentMark, &startMark, sizeof currentMark), 0);
  EXPECT_EQ(stringmark, simplestring);
}

// After a model error deep inside a function the marks and the stack are where the error left
// them; the reset the model entry makes after the error lets the next evaluation allocate.
TEST_F(BufferTest, ResetAfterModelErrorRecoversExhaustedBuffer) {
  FunctionFrame call{"f(x)", nullptr};
  auto evaluation = [&] {
    modelRuntime.functionStack = &call;
    FunctionFrame frame{"f", modelRuntime.functionStack};
    modelRuntime.functionStack = &frame;
    MatrixMark saved = PushMark();
    RealVectorAlloc(40000);
    RealVectorAlloc(40000);  // exhausts Realbuffer
    PopMark(saved);
    modelRuntime.functionStack = frame.next;
  };
  Lines first = raise(evaluation);
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(first[3], "The stack of functions is:\n");
  EXPECT_EQ(first[4], "f\n");
  EXPECT_EQ(first[5], "f(x)\n");
  EXPECT_EQ(currentMark.place.Realbuffer, EndRealbuffer);
  end_equation_reset();
  // The next evaluation of the same code succeeds up to its own exhaustion only.
  EXPECT_NO_THROW(RealVectorAlloc(40000));
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
}

TEST_F(BufferTest, IntegerIdentityAndConversions) {
  IntegerArray id = IntegerIdentity(3);
  EXPECT_EQ(std::vector<int32_t>(id.dims, id.dims + 2), (std::vector<int32_t>{3, 3}));
  EXPECT_EQ(std::vector<int32_t>(id.data, id.data + 9),
            (std::vector<int32_t>{1, 0, 0, 0, 1, 0, 0, 0, 1}));

  const double values[] = {2.7, -0.5, 3.0};
  IntegerArray ia = IntegerArrayFromReal(values, 1, 3);
  EXPECT_EQ(std::vector<int32_t>(ia.data, ia.data + 3), (std::vector<int32_t>{2, 0, 3}));

  const int32_t ints[] = {1, -2};
  int32_t dims[] = {2};
  IntegerArray small{1, dims, const_cast<int32_t*>(ints)};
  const long sizesBefore = sizes_used();
  RealArray r = RealArrayFromInteger(small);
  EXPECT_EQ(r.dims, dims);
  EXPECT_EQ(sizes_used(), sizesBefore);
  EXPECT_EQ(values_of(r), (std::vector<double>{1.0, -2.0}));
}

TEST_F(BufferTest, IntegerArrayFromRealSaturatesAndMapsNaNToZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {std::nan(""), inf,           -inf,         1e300,         -1e300,
                           2147483647.9, -2147483648.9, 2147483648.0, -2147483649.0, -1.9};
  IntegerArray a = IntegerArrayFromReal(values, 2, 2, 5);
  EXPECT_EQ(std::vector<int32_t>(a.data, a.data + 10),
            (std::vector<int32_t>{0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX,
                                  INT32_MIN, INT32_MAX, INT32_MIN, -1}));
}

TEST_F(BufferTest, WrapTakesOnlyExtents) {
  double storage[9] = {};
  RealArray w = RealArrayWrap(storage, 2, 3, 3);
  EXPECT_EQ(w.data, storage);
  EXPECT_EQ(dims_of(w), (std::vector<int32_t>{3, 3}));
  EXPECT_EQ(reals_used(), 0);
  EXPECT_EQ(sizes_used(), 2);
  StringArray s = StringArrayFill(StringArrayAlloc(2, 2, 2), "abc");
  for (int k = 0; k < 4; ++k) EXPECT_STREQ(s.data[k], "abc");
  EXPECT_EQ(strings_used(), 4);
}

TEST_F(BufferTest, StringAllocationLimits) {
  char* e = ModelicaAllocateString(0);
  EXPECT_STREQ(e, "");
  EXPECT_EQ(stringmark, simplestring + 1);

  ResetMarks();
  char* big = ModelicaAllocateString(99998);
  EXPECT_EQ(big, simplestring);
  EXPECT_EQ(stringmark, simplestring + 99999);

  ResetMarks();
  EXPECT_EQ(raise([] { ModelicaAllocateString(99999); }),
            check_log("stringmark+len+1<Endsimplestring", "Room to allocate string"));
  EXPECT_EQ(stringmark, simplestring);  // a failed request does not move the mark

  log.clear();
  EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(99999), nullptr);
  EXPECT_NE(ModelicaAllocateStringWithErrorReturn(99998), nullptr);
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(BufferTest, StringLengthsNearTheSizeLimitFail) {
  ModelicaAllocateString(5);
  // The last: far beyond the buffer without coming near the end of the address space.
  constexpr size_t huge = size_t{1} << (sizeof(size_t) == 8 ? 40 : 28);
  for (size_t len : {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX / 2, huge}) {
    SCOPED_TRACE(len);
    EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(len), nullptr);
    EXPECT_EQ(raise([&] { SimpleStringAlloc(len); }),
              check_log("stringmark+len+1<Endsimplestring", "Room to allocate string"));
    EXPECT_EQ(stringmark, simplestring + 6);
  }
}

TEST_F(BufferTest, StringsOutliveMarksUntilReset) {
  MatrixMark saved = PushMark();
  char* s = ModelicaAllocateString(3);
  std::strcpy(s, "abc");
  PopMark(saved);
  ReleaseTemporaries();
  char* t = ModelicaAllocateString(3);
  EXPECT_EQ(t, s + 4);
  EXPECT_STREQ(s, "abc");
  end_equation_reset();
  EXPECT_EQ(stringmark, simplestring);
}

TEST_F(BufferTest, FormatErrorRaisesFormattedMessageInProcessLocale) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << "locale " << DecimalCommaLocale << " is not installed";
  Lines lines =
      raise([] { ModelicaFormatError("Not possible to open file \"%s\": %g", "x.txt", 0.5); });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "Not possible to open file \"x.txt\": 0,5\n");
}

TEST_F(BufferTest, FormatErrorCutsLongMessage) {
  const std::string longText(5000, 'y');
  Lines lines = raise([&] { ModelicaFormatError("%s", longText.c_str()); });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], std::string(3999, 'y') + "\n");
}

}  // namespace
