// Log output and the model-error report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "runtime/output.h"
#include "runtime/runtime_state.h"

namespace {

using Lines = std::vector<std::string>;

class ModelErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    modelRuntime.time = 0.25;
    modelRuntime.printFlags = 0;
    modelRuntime.status = 0;
    modelRuntime.functionStack = nullptr;
  }
  void TearDown() override {
    modelRuntime.printFlags = 0;
    modelRuntime.functionStack = nullptr;
  }
  // Runs f, which must raise a model error, and returns what it logged.
  template <class F>
  Lines raise(F f) {
    bool landed = false;
    try {
      f();
    } catch (const ModelErrorReturn& e) {
      landed = e.value == 1;
    }
    EXPECT_TRUE(landed);
    EXPECT_EQ(modelRuntime.status, 1);
    return log.texts();
  }
  LogCapture log;
};

TEST_F(ModelErrorTest, EmptyStackLogsTimeAndMessageOnly) {
  EXPECT_EQ(raise([] { model_error("boom"); }),
            (Lines{"The following error was detected at time: 0.25\n", "boom\n"}));
}

TEST_F(ModelErrorTest, StackIsPrintedTopDownAndEmptied) {
  FunctionFrame f3{"F3", nullptr}, f2{"F2", &f3}, f1{"F1", &f2};
  modelRuntime.functionStack = &f1;
  EXPECT_EQ(raise([] { model_error("m"); }),
            (Lines{"The following error was detected at time: 0.25\n", "m\n",
                   "The stack of functions is:\n", "F1\n", "F2\n", "F3\n"}));
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
}

TEST_F(ModelErrorTest, QuietBitSuppressesReportButStillFails) {
  FunctionFrame f1{"F1", nullptr};
  modelRuntime.functionStack = &f1;
  modelRuntime.printFlags = PrintFlagQuiet;
  EXPECT_EQ(raise([] { model_error("m"); }), Lines{});
  EXPECT_EQ(modelRuntime.functionStack, &f1);
}

TEST_F(ModelErrorTest, FailedAssertLogsConditionFirstEvenWhenQuiet) {
  EXPECT_EQ(raise([] { model_assert(0, "a<b", "Room to allocate"); }),
            (Lines{"a<b\n", "The following error was detected at time: 0.25\n",
                   "Room to allocate\n"}));
  log.clear();
  modelRuntime.printFlags = PrintFlagQuiet;
  EXPECT_EQ(raise([] { model_assert(0, "a<b", "Room to allocate"); }), Lines{"a<b\n"});
}

TEST_F(ModelErrorTest, TrueAssertReturnsSilently) {
  model_assert(1, "a<b", "never");
  EXPECT_TRUE(log.messages().empty());
  EXPECT_EQ(modelRuntime.status, 0);
}

TEST_F(ModelErrorTest, RangeAndDivisionMessages) {
  Lines range = raise([] { model_range_error("v*v", -4.0, "sqrt"); });
  ASSERT_EQ(range.size(), 2u);
  EXPECT_EQ(range[1], "\nModel error - sqrt (v*v) = sqrt (-4)\n\n");
  log.clear();
  Lines div = raise([] { model_division_by_zero("pendulum.length", 0.5, "world.defaultWidthFraction", 0.0); });
  ASSERT_EQ(div.size(), 2u);
  EXPECT_EQ(div[1],
            "\nModel error - division by zero: (pendulum.length) / (world.defaultWidthFraction) = "
            "(0.5) / (0)\n\n");
}

TEST_F(ModelErrorTest, ExpressionTextsAreCutAt400) {
  const std::string longText(1500, 'x');
  Lines div = raise([&] { model_division_by_zero(longText.c_str(), 1, longText.c_str(), 0); });
  const std::string cut(400, 'x');
  EXPECT_EQ(div[1], "\nModel error - division by zero: (" + cut + ") / (" + cut + ") = (1) / (0)\n\n");
}

TEST_F(ModelErrorTest, RangeMessageCutsArgumentTextAndStaysInItsBuffer) {
  const std::string longText(1500, 'x');
  Lines range = raise([&] { model_range_error(longText.c_str(), -1, "sqrt"); });
  ASSERT_EQ(range.size(), 2u);
  EXPECT_EQ(range[1], "\nModel error - sqrt (" + std::string(400, 'x') + ") = sqrt (-1)\n\n");
  log.clear();
  // The function name is not cut by the format: the message is cut at its buffer's end.
  const std::string longName(3000, 'f');
  range = raise([&] { model_range_error("v", -1, longName.c_str()); });
  ASSERT_EQ(range.size(), 2u);
  EXPECT_EQ(range[1], "\nModel error - " + std::string(999 - 15, 'f') + "\n");
}

TEST(Printers, LabelledValuesAndCutLabels) {
  LogCapture log;
  print_labelled_real("t", 1.0 / 3.0);
  print_labelled_integer("n", -42);
  print_matrix_element("A", 2, 3, 1.5);
  EXPECT_EQ(print_labelled_real_status("s", 2.0), 0);
  const std::string longLabel(5000, 'L');
  print_labelled_real(longLabel.c_str(), 1.0);
  Lines t = log.texts();
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0], "t 0.3333333333333333\n");
  EXPECT_EQ(t[1], "n -42\n");
  EXPECT_EQ(t[2], "  A[2, 3] = 1.5\n");
  EXPECT_EQ(t[3], "s 2\n");
  EXPECT_EQ(t[4], std::string(160, 'L') + " 1\n");
}

TEST(Printers, RealVector) {
  LogCapture log;
  const double v[] = {1, 2.5, -3};
  print_real_vector("v", v, 3);
  EXPECT_EQ(log.texts(), Lines{"v = {1, 2.5, -3}\n"});
}

TEST(Printers, LongVectorIsCutNotOverrun) {
  LogCapture log;
  std::vector<double> v(1000, 123456.0);
  print_real_vector("v", v.data(), static_cast<int>(v.size()));
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0].size(), 1999u + 1u);  // 1999 characters and the line end
}

TEST(Printers, RealMatrixTwoByTwo) {
  LogCapture log;
  const double a[] = {1, 3, 2, 4};  // column-major: rows (1, 2) and (3, 4)
  print_real_matrix("A", a, 2, 2, 2);
  EXPECT_EQ(log.texts(), (Lines{"A = {\n", "\n", "{1, 2}, \n", "{3, 4}\n", "\n", "};\n"}));
}

TEST(Printers, LongMatrixRowIsLoggedInPieces) {
  LogCapture log;
  std::vector<double> a(60, 1234567.0);  // one row of 60 values "1.23457E+06"
  print_real_matrix("A", a.data(), 1, 60, 1);
  Lines t = log.texts();
  ASSERT_GT(t.size(), 6u);
  // Every piece but the last ends in ", " and is no longer than 200 plus one value.
  for (size_t k = 2; k + 3 < t.size(); ++k) {
    EXPECT_EQ(t[k].substr(t[k].size() - 3), ", \n");
    EXPECT_GT(t[k].size(), 200u);
  }
  EXPECT_EQ(t[t.size() - 3].back(), '\n');
  EXPECT_EQ(t.back(), "};\n");
}

TEST(Printers, MatrixRowIsSplitOnlyWhenAlreadyLongerThan200) {
  // 46 values "10" and 3 values "100" bring the row line to exactly 200 characters before the
  // 50th value: that value still joins the line; the line is logged before the 51st.
  std::vector<double> row(46, 10.0);
  row.insert(row.end(), {100.0, 100.0, 100.0, 7.0, 8.0});
  std::string first = "{";
  for (int k = 0; k < 46; ++k) first += "10, ";
  first += "100, 100, 100, 7, ";
  ASSERT_EQ(first.size(), 203u);
  LogCapture log;
  print_real_matrix("A", row.data(), 1, static_cast<int>(row.size()), 1);
  EXPECT_EQ(log.texts(), (Lines{"A = {\n", "\n", first + "\n", "8}\n", "\n", "};\n"}));
}

TEST(Printers, MatrixUsesLeadingDimension) {
  LogCapture log;
  const double a[] = {1, 3, 99, 2, 4, 99};  // 2 x 2 in a column-major array with ld 3
  print_real_matrix("A", a, 2, 2, 3);
  EXPECT_EQ(log.texts(), (Lines{"A = {\n", "\n", "{1, 2}, \n", "{3, 4}\n", "\n", "};\n"}));
}

TEST(Printers, LongMatrixNameIsCut) {
  LogCapture log;
  const std::string name(1000, 'N');
  const double a[] = {1};
  print_real_matrix(name.c_str(), a, 1, 1, 1);
  ASSERT_FALSE(log.texts().empty());
  EXPECT_EQ(log.texts()[0], std::string(299, 'N') + "\n");
}

TEST(Printers, LongVectorNameIsCut) {
  LogCapture log;
  const std::string name(3000, 'N');
  const double v[] = {1, 2};
  print_real_vector(name.c_str(), v, 2);
  EXPECT_EQ(log.texts(), Lines{std::string(1999, 'N') + "\n"});
}

TEST(Printers, ScatterColumnValues) {
  double dst[6] = {0};
  const int rows[] = {2, 1, 3};
  const double src[] = {7, 8, 9};
  scatter_column_values(dst, 3, 0, rows, src, 2);
  EXPECT_EQ(dst[1], 7);
  EXPECT_EQ(dst[3], 8);
}

TEST(Printers, TextWithoutInstanceIsDropped) {
  ModelInstance* saved = currentInstance;
  currentInstance = nullptr;
  log_message_line("nobody hears this");  // must not crash
  currentInstance = saved;
}

TEST(Printers, TimeLineFollowsProcessLocale) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << "locale " << DecimalCommaLocale << " is not installed";
  LogCapture log;
  print_labelled_real("t", 0.5);
  EXPECT_EQ(log.texts(), Lines{"t 0,5\n"});
}

}  // namespace
