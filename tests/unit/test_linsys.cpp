// The linear-system solver: the LU and the rank-revealing paths, the checks, the report and
// its gating, and the reference LAPACK's argument errors returning to the caller.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "log_capture.h"
#include "test_platform.h"
#include "runtime/lapack.h"
#include "runtime/linsys.h"

namespace {

using Lines = std::vector<std::string>;
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// One system with its caller-owned arrays, solved through linsys_solve.
struct System {
  int n;
  std::vector<double> A;  // column-major, leading dimension lda
  int lda;
  std::vector<double> work;
  std::vector<int> iwork;
  int state = 0;
  int error = -1;

  // Matrix given row by row, stored column-major.
  System(int size, std::vector<double> rows) : n(size), A(rows.size()), lda(size) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) A[i + j * n] = rows[i * n + j];
    work.assign(linsys_work_size(n), -7.0);
    iwork.assign(linsys_iwork_size(n), -7);
  }
  std::vector<double> solve(std::vector<double> b, int options, const char* const* names = nullptr,
                            int eventFlag = 0, int printFlags = 0, double time = 0.5,
                            int number = 1) {
    linsys_solve(&number, &options, A.data(), &lda, &n, b.data(), &time, &eventFlag, &printFlags,
                 work.data(), iwork.data(), &state, names, &error);
    return b;
  }
  std::vector<int> flags() const { return {iwork.begin() + n + 1, iwork.end()}; }
  int rank() const { return iwork[n]; }
};

class Linsys : public ::testing::Test {
 protected:
  // The log without the line ends the logging path adds.
  Lines lines() const {
    Lines out;
    for (std::string t : log.texts()) {
      if (!t.empty() && t.back() == '\n') t.pop_back();
      out.push_back(t);
    }
    return out;
  }
  LogCapture log;
};

void expect_near(const std::vector<double>& x, const std::vector<double>& expected) {
  ASSERT_EQ(x.size(), expected.size());
  for (size_t i = 0; i < x.size(); ++i)
    EXPECT_NEAR(x[i], expected[i], 1e-12 * (1.0 + std::fabs(expected[i]))) << "component " << i;
}

TEST_F(Linsys, ToleranceIsSetOnFirstCall) {
  System s(2, {4, 1, 2, 3});
  s.solve({1, 2}, 0);
  EXPECT_EQ(solverTolerance, 1e7 * 0x1p-52);
  EXPECT_DOUBLE_EQ(solverTolerance, 2.220446049250313e-09);
}

// A well-conditioned system by every path: solved, nothing flagged, nothing logged.
TEST_F(Linsys, WellConditionedIsSolvedSilentlyByEveryPath) {
  struct Case {
    int options;
    int factorisation;
  };
  for (Case c : {Case{0, 1}, Case{1, 2}, Case{2, 1}, Case{3, 2}}) {
    SCOPED_TRACE(c.options);
    System s(2, {4, 1, 2, 3});
    expect_near(s.solve({1, 2}, c.options, nullptr, 1, 100), {0.1, 0.6});
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.state & LinsysStateFactorMask, c.factorisation);
    EXPECT_EQ(s.flags(), (std::vector<int>{0, 0}));
    if (c.factorisation == 2) {
      EXPECT_EQ(s.rank(), 2);
    }
  }
  EXPECT_TRUE(lines().empty());
}

// Equilibration: the state records what was scaled, and the solution undoes it.
TEST_F(Linsys, EquilibrationScalesRowsAndColumnsAndUndoesIt) {
  struct Case {
    std::vector<double> rows;
    int scaled;
  };
  const Case cases[] = {
      {{1e6, 2e6, 1, 3}, LinsysStateRowsScaled},
      {{1e6, 1, 2e6, 3}, LinsysStateColumnsScaled},
      {{1e6, 1e3, 1, 1e-6}, LinsysStateRowsScaled | LinsysStateColumnsScaled},
      // Scaled columns that the pivoted QR factorisation swaps: the factors belong to the
      // caller's order of unknowns.
      {{2e-3, 1, 1e-3, 3}, LinsysStateColumnsScaled},
  };
  for (const Case& c : cases) {
    for (int options : {2, 3}) {
      System s(2, c.rows);
      // Right-hand side of the solution (1, -2).
      const std::vector<double> b{c.rows[0] - 2 * c.rows[1], c.rows[2] - 2 * c.rows[3]};
      const std::vector<double> x = s.solve(b, options);
      EXPECT_EQ(s.state & 0x300, c.scaled) << options;
      EXPECT_NEAR(x[0], 1.0, 1e-9);
      EXPECT_NEAR(x[1], -2.0, 1e-9);
      EXPECT_EQ(s.error, 0);
    }
  }
  EXPECT_TRUE(lines().empty());
}

// A zero row found by the equilibration: the matrix stays unscaled, rank 1, minimum-norm
// solution, the undetermined unknown flagged.
TEST_F(Linsys, ZeroRowGivesMinimumNormSolutionSilently) {
  const char* names[] = {"a", "b"};
  System s(2, {1, 0, 0, 0});
  expect_near(s.solve({1, 0}, 3, names, 1, 6), {1, 0});
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.state, LinsysStateQR);
  EXPECT_EQ(s.rank(), 1);
  EXPECT_EQ(s.flags(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(lines().empty());
}

TEST_F(Linsys, MinimumNormIsTheShortestSolution) {
  System s(2, {1, 1, 1, 1});
  expect_near(s.solve({2, 2}, 1), {1, 1});  // not the basic solution (2, 0)
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.flags(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(lines().empty());
}

// The report of a minimum-norm solution only at an event with printFlags >= 80.
TEST_F(Linsys, MinimumNormReportIsGatedByEventAndPrintFlags) {
  const char* names[] = {"a", "b"};
  struct Case {
    int eventFlag;
    int printFlags;
    bool reported;
  };
  const Case cases[] = {{1, 80, true}, {1, 1000, true}, {1, 79, false},
                        {1, 6, false}, {0, 80, false},  {2, 80, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.eventFlag << " " << c.printFlags);
    log.clear();
    System s(2, {1, 0, 0, 0});
    s.solve({1, 0}, 3, names, c.eventFlag, c.printFlags);
    EXPECT_EQ(s.error, 0);
    if (c.reported)
      EXPECT_EQ(lines(), (Lines{"... System of equations is singular at Time = 0.5",
                                "...    Linear system of equations number = 1",
                                "... Variables which cannot be uniquely computed:", "b = 0",
                                "... Simulation continues with minimum norm solution."}));
    else
      EXPECT_TRUE(lines().empty());
  }
}

// Column pivoting: values and flags come back in the caller's order of unknowns.
TEST_F(Linsys, PermutedSystemsComeBackInCallersOrder) {
  const char* names[] = {"u", "v", "w"};
  for (int options : {1, 3}) {
    SCOPED_TRACE(options);
    // Columns of norms 2, 0, 3: the factorisation orders them 3, 1, 2 (a 3-cycle).
    System s(3, {0, 0, 3,  //
                 2, 0, 0,  //
                 0, 0, 0});
    expect_near(s.solve({3, 4, 0}, options, names, 1, 80), {2, 0, 1});
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.flags(), (std::vector<int>{0, 1, 0}));
    const Lines l = lines();
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[3], "v = 0");
    log.clear();
  }
  // Full rank, the larger column second.
  System s(2, {1, 100, 2, 3});
  expect_near(s.solve({201, 8}, 1), {1, 2});
  EXPECT_EQ(s.flags(), (std::vector<int>{0, 0}));
  // A zero first column and zero second row: unknown 1 is the undetermined one.
  System z(2, {0, 1, 0, 0});
  expect_near(z.solve({1, 0}, 3), {0, 1});
  EXPECT_EQ(z.flags(), (std::vector<int>{1, 0}));
  EXPECT_TRUE(lines().empty());
}

TEST_F(Linsys, InconsistentSystemIsRejectedAndReported) {
  const char* names[] = {"a", "b"};
  System s(2, {1, 0, 0, 0});
  const std::vector<double> x = s.solve({1, 1}, 3, names, 0, 0, 0.5, 7);
  expect_near(x, {1, 0});
  EXPECT_EQ(s.error, 1);
  EXPECT_EQ(lines(), (Lines{c_locale_text("Residual component 2 of system 7 is 1.000000e+00"),
                            "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.5",
                            "...    Linear system of equations number = 7",
                            "... Variables which cannot be uniquely computed:", "b = 0",
                            "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
}

TEST_F(Linsys, ReportWithoutNamesNumbersTheUnknowns) {
  System s(2, {1, 0, 0, 0});
  s.solve({1, 1}, 3);
  EXPECT_EQ(s.error, 1);
  EXPECT_EQ(lines(), (Lines{c_locale_text("Residual component 2 of system 1 is 1.000000e+00"),
                            "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.5",
                            "...    Linear system of equations number = 1",
                            "...    Variables X(i) which cannot be uniquely computed:", "... 2",
                            "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
}

// A failed LU attempt leaves its factors in the work array: the rank-revealing path starts from
// a fresh copy of A, scaled again with the same factors when the equilibration scaled it.
TEST_F(Linsys, FailedLUFallsBackOnAFreshlyScaledCopy) {
  struct Case {
    std::vector<double> rows;
    std::vector<double> b;
    int options;
    int state;
  };
  const Case cases[] = {
      // Partial pivoting swaps the rows, so the LU factors differ from A.
      {{1, 2, 2, 4}, {1, 2}, 0, LinsysStateQR},
      // The row scaling leaves the two rows equal: LU fails on the scaled matrix.
      {{1e6, 2e6, 1, 2}, {1e6, 1}, 2, LinsysStateRowsScaled | LinsysStateQR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    System s(2, c.rows);
    expect_near(s.solve(c.b, c.options), {0.2, 0.4});
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.state, c.state);
    EXPECT_EQ(s.rank(), 1);
    EXPECT_EQ(s.flags(), (std::vector<int>{1, 0}));
  }
  EXPECT_TRUE(lines().empty());
}

// Full rank but conditioned between 1/tolerance and 1/eps: the first factorisation takes rank
// 1; a too large residual restarts at the finer rank, a small one is accepted.
TEST_F(Linsys, BadlyScaledFullRankSystemRestartsAtTheFinerRank) {
  for (int options : {0, 1}) {
    SCOPED_TRACE(options);
    System s(2, {1, 0, 0, 1e-10});
    expect_near(s.solve({1, 1}, options), {1, 1e10});
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.state & LinsysStateFactorMask, LinsysStateQR);
    EXPECT_EQ(s.rank(), 2);
    EXPECT_EQ(s.flags(), (std::vector<int>{0, 0}));

    System t(2, {1, 0, 0, 1e-10});
    expect_near(t.solve({1, 1e-12}, options), {1, 0});
    EXPECT_EQ(t.error, 0);
    EXPECT_EQ(t.rank(), 1);
    EXPECT_EQ(t.flags(), (std::vector<int>{0, 1}));
  }
  EXPECT_TRUE(lines().empty());

  // The restart tests the right-hand side again.
  System u(2, {1, 0, 0, 1e-10});
  u.solve({1, Inf}, 0);
  EXPECT_EQ(u.rank(), 2);
  EXPECT_EQ(u.error, 1);
  const Lines l = lines();
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[0], std::string("Rhs component 2 of system 1 is ") + InfinityE);
  EXPECT_EQ(l[1], std::string("Rhs component 2 of system 1 is ") + InfinityE);
}

// A stored factorisation is used as it stands: no refactorising, and no restart.
TEST_F(Linsys, StoredFactorisationIsReused) {
  System s(2, {4, 1, 2, 3});
  s.solve({1, 2}, 0);
  ASSERT_EQ(s.state & LinsysStateFactorMask, LinsysStateLU);
  s.A = {1, 0, 0, 1};  // only the residual would read it
  expect_near(s.solve({1, 2}, 0), {0.1, 0.6});
  EXPECT_EQ(s.error, 0);

  System t(2, {1, 0, 0, 1e-10});
  t.solve({1, 1e-12}, 0);
  ASSERT_EQ(t.rank(), 1);
  const int stored = t.state;
  expect_near(t.solve({1, 1}, 0), {1, 0});
  EXPECT_EQ(t.state, stored);
  EXPECT_EQ(t.error, 1);
  EXPECT_EQ(lines().front(), c_locale_text("Residual component 2 of system 1 is 1.000000e+00"));
  EXPECT_EQ(lines().back(), "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL");
}

// Rank 0 gets the residual check like any other rank.
TEST_F(Linsys, ZeroMatrixIsCheckedLikeAnyOther) {
  System s(2, {0, 0, 0, 0});
  expect_near(s.solve({0, 0}, 3), {0, 0});
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.rank(), 0);
  EXPECT_EQ(s.flags(), (std::vector<int>{1, 1}));
  EXPECT_TRUE(lines().empty());

  System t(2, {0, 0, 0, 0});
  expect_near(t.solve({0, 3}, 3), {0, 0});
  EXPECT_EQ(t.error, 1);
  EXPECT_EQ(lines(), (Lines{c_locale_text("Residual component 2 of system 1 is 3.000000e+00"),
                            "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.5",
                            "...    Linear system of equations number = 1",
                            "...    Variables X(i) which cannot be uniquely computed:", "... 1",
                            "... 2", "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
}

// NaN or infinity in the right-hand side is logged first and the solve goes on; a NaN or
// infinite solution is never accepted, nor a rank-deficient one with such a residual.
TEST_F(Linsys, NonFiniteValuesAreNeverAccepted) {
  struct Case {
    const char* what;
    std::vector<double> rows;
    std::vector<double> b;
    int options;
  };
  const Case cases[] = {
      {"LU, infinite right-hand side", {4, 1, 2, 3}, {Inf, 1}, 0},
      {"full-rank QR, NaN right-hand side", {4, 1, 2, 3}, {NaN, 1}, 1},
      {"rank deficient, NaN right-hand side", {1, 0, 0, 0}, {NaN, 0}, 3},
      {"rank deficient, infinite right-hand side", {1, 0, 0, 0}, {Inf, 0}, 1},
      {"rank deficient, finite solution, NaN residual", {1, 0, 0, 0}, {1, NaN}, 3},
      {"NaN in the matrix", {1, NaN, 0, 1}, {1, 1}, 0},
      {"NaN in the matrix, rank-revealing", {1, NaN, 0, 1}, {1, 1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    System s(2, c.rows);
    s.solve(c.b, c.options);
    EXPECT_EQ(s.error, 1);
    ASSERT_FALSE(lines().empty());
    EXPECT_EQ(lines().back(), "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL");
    if (!std::isfinite(c.b[0])) {
      EXPECT_EQ(lines().front().rfind("Rhs component 1 of system 1 is ", 0), 0u);
    }
  }
  log.clear();
  System s(2, {1, 0, 0, 1});
  s.solve({Inf, 1}, 0);
  // 0·inf in the substitution makes both components NaN.
  EXPECT_EQ(lines()[0], std::string("Rhs component 1 of system 1 is ") + InfinityE);
  EXPECT_EQ(lines()[1].rfind("Solution component 1 of system 1 is ", 0), 0u);
  EXPECT_EQ(lines()[2].rfind("Solution component 2 of system 1 is ", 0), 0u);
}

// At full rank only the solution is checked, never A·x: an exact solution whose product with A
// overflows is accepted.
TEST_F(Linsys, FullRankChecksTheSolutionNotTheResidual) {
  struct Case {
    const char* what;
    std::vector<double> rows;
    std::vector<double> b;
    int options;
    int factorisation;
    std::vector<double> x;
  };
  const Case cases[] = {
      {"LU, A·x overflows", {1e308, 1e308, 1, -1}, {-1e308, 3}, 2, LinsysStateLU, {1, -2}},
      {"QR, A·x overflows", {1e308, 1e308, 1, -1}, {-1e308, 3}, 3, LinsysStateQR, {1, -2}},
      // Rank 1 at first; its NaN residual restarts at rank 2, where inf·0 is not looked at.
      {"infinity in the matrix", {Inf, 0, 0, 1}, {0, 1}, 0, LinsysStateQR, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    System s(2, c.rows);
    expect_near(s.solve(c.b, c.options), c.x);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.state & LinsysStateFactorMask, c.factorisation);
    EXPECT_EQ(s.flags(), (std::vector<int>{0, 0}));
  }
  EXPECT_TRUE(lines().empty());
}

// A solution component is rejected from the largest finite magnitude on, not from just below.
TEST_F(Linsys, SolutionBoundIsTheLargestFiniteMagnitude) {
  constexpr double Max = std::numeric_limits<double>::max();
  const double belowMax = std::nextafter(Max, 0.0);
  const char* names[] = {"a", "b"};
  for (int options : {0, 1}) {
    SCOPED_TRACE(options);
    log.clear();
    for (double big : {belowMax, -belowMax}) {
      System s(2, {1, 0, 0, 1});
      EXPECT_EQ(s.solve({1, big}, options, names), (std::vector<double>{1, big}));
      EXPECT_EQ(s.error, 0);
    }
    EXPECT_TRUE(lines().empty());
    for (double big : {Max, -Max}) {
      log.clear();
      System s(2, {1, 0, 0, 1});
      s.solve({1, big}, options, names);
      EXPECT_EQ(s.error, 1);
      const std::string shown = big > 0 ? "1.797693e+308" : "-1.797693e+308";
      // Nothing is flagged: the report lists no unknown.
      EXPECT_EQ(lines(), (Lines{"Rhs component 2 of system 1 is " + shown,
                                "In system 1 b = " + shown,
                                "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.5",
                                "...    Linear system of equations number = 1",
                                "... Variables which cannot be uniquely computed:",
                                "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
    }
  }
}

TEST_F(Linsys, DegenerateArguments) {
  // No unknowns: nothing to do.
  int n = 0, lda = 0, options = 3, number = 1, eventFlag = 1, printFlags = 80, state = 0;
  int error = -1;
  double time = 0, x = 5, work = 0;
  int iwork = 0;
  EXPECT_EQ(linsys_solve(&number, &options, nullptr, &lda, &n, &x, &time, &eventFlag, &printFlags,
                         &work, &iwork, &state, nullptr, &error),
            0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(x, 5);
  EXPECT_TRUE(lines().empty());

  // A leading dimension below the order: rejected, nothing computed.
  System s(2, {4, 1, 2, 3});
  s.lda = 1;
  EXPECT_EQ(s.solve({1, 2}, 0), (std::vector<double>{1, 2}));
  EXPECT_EQ(s.error, 1);
  EXPECT_EQ(s.state, 0);
  EXPECT_EQ(lines().back(), "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL");
}

TEST_F(Linsys, LongAndMissingNames) {
  const std::string longName(150, 'n');
  const std::string exact(140, 'e');
  const char* names[] = {longName.c_str(), exact.c_str()};
  System s(2, {0, 0, 0, 0});
  s.solve({1, 0}, 1, names);
  const Lines l = lines();
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l[4], longName.substr(0, 140) + "... = 0");
  EXPECT_EQ(l[5], exact + " = 0");

  log.clear();
  System t(2, {1, 0, 0, 1});
  t.solve({Inf, 1}, 0, names);
  EXPECT_EQ(lines()[1].rfind("In system 1 " + longName.substr(0, 140) + "... = ", 0), 0u);

  log.clear();
  const char* missing[] = {nullptr, "b"};
  System u(2, {0, 0, 0, 1});
  u.solve({1, 1}, 1, missing);
  EXPECT_EQ(u.error, 1);
  EXPECT_EQ(lines()[4], " = 0");
  log.clear();
  System v(2, {1, 0, 0, 1});
  v.solve({Inf, 1}, 0, missing);
  EXPECT_EQ(lines()[1].rfind("In system 1  = ", 0), 0u);
}

// The component messages are in the "C" locale, the report lines in the process's locale.
TEST_F(Linsys, ReportFollowsProcessLocaleComponentsDoNot) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << DecimalCommaLocale << " is not installed";
  const char* names[] = {"a", "b"};
  System s(2, {1, 0, 0, 0});
  s.solve({1.5, 0.25}, 3, names, 0, 0, 2.5, 3);
  EXPECT_EQ(s.error, 1);
  EXPECT_EQ(lines(), (Lines{c_locale_text("Residual component 2 of system 3 is 2.500000e-01"),
                            "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2,5",
                            "...    Linear system of equations number = 3",
                            "... Variables which cannot be uniquely computed:", "b = 0",
                            "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
  log.clear();
  System t(2, {1, 0, 0, 1});
  t.solve({Inf, 0.5}, 0, nullptr, 0, 0, 0.75);
  EXPECT_EQ(lines()[0], std::string("Rhs component 1 of system 1 is ") + InfinityE);
  EXPECT_EQ(lines()[3], "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0,75");
  double value = 0.5;
  log.clear();
  print_fstring_real("value", &value, 5);
  EXPECT_EQ(lines(), (Lines{"value 0,5"}));
}

TEST_F(Linsys, PrintersTrimAndCut) {
  const std::string x300(300, 'x');
  const double value = 1.5;
  const int seven = 7;
  print_fstring("abc   ", 6);
  print_fstring(" ", 1);
  print_fstring("ab\0cd", 5);
  print_fstring("abcdef", 3);
  print_fstring(x300.c_str(), 300);
  print_fstring_real(x300.c_str(), &value, 300);
  print_fstring_integer(x300.c_str(), &seven, 300);
  print_fstring_integer("...     ", &seven, 8);
  print_fstring_real("t =   ", &value, 6);
  EXPECT_EQ(lines(), (Lines{"abc", " ", "ab", "abc", std::string(198, 'x'),
                            std::string(178, 'x') + " 1.5", std::string(183, 'x') + " 7", "... 7",
                            "t = 1.5"}));
}

// The runtime's xerbla_ returns without output: an argument error inside LAPACK or BLAS comes
// back to the caller with info set, and the process goes on.
TEST(LapackArgumentError, ReturnsToTheCaller) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int bad = -1, two = 2, one = 1;
  double a[4] = {1, 2, 3, 4};
  int ipiv[2] = {0, 0};
  int info = 0;
  dgetrf_(&bad, &two, a, &two, ipiv, &info);
  const int dgetrfInfo = info;
  info = 0;
  dgetrs_("Q", &two, &one, a, &two, ipiv, a, &two, &info, 1);
  const int dgetrsInfo = info;
  double y[2] = {9, 9};
  const double alpha = 1, beta = 0;
  dgemv_("Q", &two, &two, &alpha, a, &two, a, &one, &beta, y, &one, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(dgetrfInfo, -1);
  EXPECT_EQ(dgetrsInfo, -1);
  EXPECT_EQ(y[0], 9);  // dgemv_ refused and left y alone
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
}

}  // namespace
