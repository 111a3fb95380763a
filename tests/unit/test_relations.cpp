// Relations with hysteresis: new values, offsets, the changed flag and the two messages.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "log_capture.h"
#include "test_platform.h"
#include "runtime/relations.h"

namespace {

using Lines = std::vector<std::string>;

constexpr double Eps = 1e-10;
constexpr double Tol = 1e-4;  // scaled tolerance for scale 1

// One relation's state and the call's flags.
struct Relation {
  int32_t value = 0;
  double hyst = 0.0;
  double nominal = 0.0;
  int32_t changed = 0;
};

struct Call {
  double z;
  int direction = 0;
  int evaluated = 0;
  int initial = 0;
  int printFlags = 0;
  int late = 0;
  int negate = 0;
  double tolerance = Tol;
};

void evaluate(Relation& r, const Call& c) {
  event_relation("a > b", "(a)-(b)", &r.value, &r.hyst, &r.nominal, Eps, c.z, c.initial,
                 c.printFlags, &r.changed, c.direction, c.negate, c.evaluated, c.tolerance,
                 c.late);
}

TEST(MachineConstants, StoresEpsilonAndLargestDouble) {
  EXPECT_EQ(init_machine_constants(), 0);
  EXPECT_EQ(machineEpsilon, 2.220446049250313e-16);
  EXPECT_EQ(machineEpsilon, std::ldexp(1.0, -52));
  EXPECT_EQ(machineLargest, DBL_MAX);
}

// First evaluation in an event call, outside initialisation.
struct FirstCase {
  const char* what;
  int direction;
  double z;
  int32_t oldValue;
  double oldHyst;
  int32_t value;
  double nominal;
  double hyst;
  int32_t changed;
  double tolerance = Tol;
};

TEST(EventRelation, FirstEvaluationOutsideInitialisation) {
  const FirstCase cases[] = {
      {"> switches on far from zero", 0, 0.5, 0, 0.0, 1, -Eps, -1e-16, 1},
      {"> switches on near zero", 0, 5e-9, 0, 0.0, 1, -Eps, -Eps, 1},
      {"> factor applies from 100 eps", 0, 100 * Eps, 0, 0.0, 1, -Eps, -1e-16, 1},
      {"> switches off", 0, -0.5, 1, -Eps, 0, Eps, 1e-16, 1},
      {"< switches on", 1, -0.5, 0, 0.0, 1, Eps, 1e-16, 1},
      {"< at zero is false", 1, 0.0, 1, Eps, 0, -Eps, -Eps, 1},
      {"unchanged within eps takes signed eps", 0, 5e-11, 1, 0.25, 1, -Eps, -Eps, 0},
      {"unchanged between eps and tolerance keeps offset", 0, 1e-6, 1, 0.25, 1, -Eps, 0.25, 0},
      {"unchanged far away gets a millionth", 0, 0.5, 1, 0.25, 1, -Eps, -1e-16, 0},
      {"unchanged false far away", 0, -0.5, 0, 0.25, 0, Eps, 1e-16, 0},
      // A tolerance below 100 eps: between it and 100 eps the offset stays as well.
      {"unchanged above a small tolerance within 100 eps keeps offset", 0, 5e-9, 1, 0.25, 1,
       -Eps, 0.25, 0, 1e-9},
  };
  for (const FirstCase& c : cases) {
    SCOPED_TRACE(c.what);
    Relation r;
    r.value = c.oldValue;
    r.hyst = c.oldHyst;
    evaluate(r, {.z = c.z, .direction = c.direction, .tolerance = c.tolerance});
    EXPECT_EQ(r.value, c.value);
    EXPECT_DOUBLE_EQ(r.nominal, c.nominal);
    EXPECT_DOUBLE_EQ(r.hyst, c.hyst);
    EXPECT_EQ(r.changed, c.changed);
  }
}

TEST(EventRelation, ChangeIsLoggedWithPrintFlagTwoOnly) {
  LogCapture log;
  Relation r;
  evaluate(r, {.z = 0.5});
  EXPECT_TRUE(log.texts().empty());

  r = Relation{};
  evaluate(r, {.z = 0.5, .printFlags = 2});
  EXPECT_EQ(log.texts(), (Lines{"Expression a > b became true ( (a)-(b) = 0.5 )\n"}));

  log.clear();
  evaluate(r, {.z = 0.5, .evaluated = 1, .printFlags = 2});  // unchanged: nothing logged
  evaluate(r, {.z = -0.25, .evaluated = 1, .printFlags = 2});
  EXPECT_EQ(log.texts(), (Lines{"Expression a > b became false ( (a)-(b) = -0.25 )\n"}));
}

TEST(EventRelation, LongTextsAreCutAt400Characters) {
  LogCapture log;
  const std::string relation(500, 'r');
  const std::string difference(450, 'd');
  Relation r;
  event_relation(relation.c_str(), difference.c_str(), &r.value, &r.hyst, &r.nominal, Eps, 1.0,
                 0, 2, &r.changed, 0, 0, 0, Tol, 0);
  EXPECT_EQ(log.texts(), (Lines{"Expression " + std::string(400, 'r') + " became true ( " +
                                std::string(400, 'd') + " = 1 )\n"}));
}

TEST(EventRelation, SecondEvaluationMeasuresFromTheOffset) {
  Relation r;
  r.value = 1;
  r.hyst = -Eps;
  // d = z - hyst = 5e-11 > 0: still true, and an unchanged re-evaluation changes nothing.
  evaluate(r, {.z = -5e-11, .evaluated = 1});
  EXPECT_EQ(r.value, 1);
  EXPECT_EQ(r.hyst, -Eps);
  EXPECT_EQ(r.changed, 0);

  // Beyond the offset it switches; not late, so the magnitude stays at least eps.
  evaluate(r, {.z = -2e-10, .evaluated = 1});
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.hyst, Eps);
  EXPECT_EQ(r.changed, 1);

  // A larger offset is kept (with the new sign) when it switches back.
  r.hyst = 3e-9;
  r.changed = 0;
  evaluate(r, {.z = 4e-9, .evaluated = 1});
  EXPECT_EQ(r.value, 1);
  EXPECT_EQ(r.hyst, -3e-9);
  EXPECT_EQ(r.changed, 1);
}

TEST(EventRelation, LateSwitchesNearZeroGrowTheOffsetTenfoldUpToTheTolerance) {
  LogCapture log;
  Relation r;
  r.value = 1;
  r.hyst = -Eps;
  const double magnitudes[] = {1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4};
  const char* printed[] = {"1e-09", "1e-08", "1e-07", "1e-06", "1e-05", "0.0001"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    log.clear();
    const int32_t before = r.value;
    // Twice the offset lies beyond it on the other side: the relation switches.
    evaluate(r, {.z = 2 * r.hyst, .evaluated = 1, .printFlags = 2, .late = 1});
    EXPECT_NE(r.value, before);
    EXPECT_NEAR(std::fabs(r.hyst), magnitudes[i], magnitudes[i] * 1e-12);
    EXPECT_EQ(r.hyst > 0, r.value == 0);  // the offset lies on the far side from d
    // The warning (with its own line end), then the change.
    const Lines texts = log.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], c_locale_text(std::string("Warning: Event epsilon of a > b increased to ") +
                                      printed[i] + ".\n\n"));
    EXPECT_EQ(texts[1].rfind("Expression a > b became ", 0), 0u);
  }

  // At the tolerance: a switch with |z| beyond it keeps the magnitude and warns no more.
  log.clear();
  evaluate(r, {.z = 2 * r.hyst, .evaluated = 1, .printFlags = 2, .late = 1});
  EXPECT_NEAR(std::fabs(r.hyst), 1e-4, 1e-16);
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0].rfind("Expression", 0), 0u);

  // An unchanged value in a late pass keeps its offset.
  const double kept = r.hyst;
  evaluate(r, {.z = r.value ? 0.5 : -0.5, .evaluated = 1, .printFlags = 2, .late = 1});
  EXPECT_EQ(r.hyst, kept);
}

TEST(EventRelation, LateGrowthWithoutFlagOrFromTinyOffsetDoesNotWarn) {
  LogCapture log;
  Relation r;
  r.value = 1;
  r.hyst = -Eps;
  evaluate(r, {.z = -2e-10, .evaluated = 1, .late = 1});  // grows, print flags 0
  EXPECT_DOUBLE_EQ(r.hyst, 1e-9);
  r.value = 1;
  r.hyst = -1e-12;  // ten times it is still below eps: magnitude eps, no warning
  evaluate(r, {.z = -2e-12, .evaluated = 1, .printFlags = 2, .late = 1});
  EXPECT_EQ(r.hyst, Eps);
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0].rfind("Expression", 0), 0u);
}

TEST(EventRelation, InitialisationNeverSetsChangedAndRecomputesTheOffset) {
  LogCapture log;
  Relation r;
  evaluate(r, {.z = 0.5, .initial = 1, .printFlags = 2});
  EXPECT_EQ(r.value, 1);
  EXPECT_EQ(r.changed, 0);
  EXPECT_EQ(r.hyst, -1e-16);
  // Unchanged, between eps and the tolerance: outside initialisation the offset would stay;
  // during initialisation it is recomputed.
  r.hyst = 0.25;
  evaluate(r, {.z = 1e-6, .initial = 1, .printFlags = 2});
  EXPECT_EQ(r.hyst, -1e-16);
  evaluate(r, {.z = -1e-6, .evaluated = 1, .initial = 1, .printFlags = 2});  // switches
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.changed, 0);
  EXPECT_TRUE(log.texts().empty());  // print flags 2 alone log nothing at initialisation
}

TEST(EventRelation, InitialisationWithFlagSixLogsFirstEvaluationsAndChanges) {
  LogCapture log;
  Relation r;
  r.value = 1;
  evaluate(r, {.z = 0.5, .initial = 1, .printFlags = 6});                   // first: logged
  evaluate(r, {.z = 0.5, .evaluated = 1, .initial = 1, .printFlags = 6});   // unchanged: not
  evaluate(r, {.z = -0.5, .evaluated = 1, .initial = 1, .printFlags = 6});  // changed: logged
  EXPECT_EQ(log.texts(), (Lines{"Expression a > b became true ( (a)-(b) = 0.5 )\n",
                                "Expression a > b became false ( (a)-(b) = -0.5 )\n"}));
  EXPECT_EQ(r.changed, 0);
}

TEST(EventRelation, MessagesUseThePointInADecimalCommaLocale) {
  ScopedLocale locale(DecimalCommaLocale);
  ASSERT_TRUE(locale.ok()) << DecimalCommaLocale << " is missing (localedef -i de_DE -f UTF-8)";
  LogCapture log;
  Relation r;
  r.value = 1;
  r.hyst = -2.5e-10;
  evaluate(r, {.z = -0.75e-9, .evaluated = 1, .printFlags = 2, .late = 1});
  EXPECT_EQ(log.texts(),
            (Lines{c_locale_text("Warning: Event epsilon of a > b increased to 2.5e-09.\n\n"),
                   c_locale_text("Expression a > b became false ( (a)-(b) = -7.5e-10 )\n")}));
}

TEST(EventRelation, NegateInvertsTheResult) {
  Relation r;
  evaluate(r, {.z = -0.5, .negate = 1});
  EXPECT_EQ(r.value, 1);
  EXPECT_EQ(r.changed, 1);
}

}  // namespace
