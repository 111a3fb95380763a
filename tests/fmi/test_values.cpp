// Values by value reference at the FMI boundary: the set rules before and after
// initialisation, index and kind checks, conversions, count mismatches, null arguments.
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "fmi_fixture.h"

namespace {

using Values = FmiTest;

std::string text_of(size_t i) {
  return i < logged_messages().size() ? logged_messages()[i].text : std::string("<none>");
}

// One set function with its type letter, reduced to setting one value given as a double.
struct Setter {
  const char* name;
  char letter;
  std::function<fmiStatus(const FmiLibrary&, fmiComponent, fmiValueReference, double)> set;
};

const std::vector<Setter>& setters() {
  static const std::vector<Setter> all = {
      {"fmiSetReal", 'r',
       [](const FmiLibrary& lib, fmiComponent c, fmiValueReference vr, double v) {
         return lib.SetReal(c, &vr, 1, &v);
       }},
      {"fmiSetInteger", 'i',
       [](const FmiLibrary& lib, fmiComponent c, fmiValueReference vr, double v) {
         const fmiInteger i = static_cast<fmiInteger>(v);
         return lib.SetInteger(c, &vr, 1, &i);
       }},
      {"fmiSetBoolean", 'b',
       [](const FmiLibrary& lib, fmiComponent c, fmiValueReference vr, double v) {
         const fmiBoolean b = static_cast<fmiBoolean>(v);
         return lib.SetBoolean(c, &vr, 1, &b);
       }},
  };
  return all;
}

TEST_F(Values, StartValuesAreVisibleAfterInitialization) {
  create_initialized();
  const fmiValueReference vr[] = {StateRef(2), ParameterRef(0), StateRef(0)};
  double v[3] = {};
  ASSERT_EQ(lib.GetReal(c(), vr, 3, v), fmiOK);
  EXPECT_EQ(v[0], 0.5235987755983);  // pendulumJoint.phi
  EXPECT_EQ(v[1], 9.81);             // world.g
  EXPECT_EQ(v[2], 0.0);              // armJoint.phi
}

TEST_F(Values, EveryKindMayBeSetBeforeInitializationOnlyStatesAfter) {
  struct Case {
    fmiValueReference vr;
    bool before;  // accepted before initialisation
    bool after;   // accepted after
  };
  const Case cases[] = {
      {ParameterRef(61), true, false},
      {StateRef(3), true, true},
      {DerivativeRef(1), true, false},
      {AuxiliaryRef(1767), true, false},
  };
  for (const Setter& s : setters()) {
    SCOPED_TRACE(s.name);
    create(fmiFalse);
    for (const Case& k : cases) {
      logged_messages().clear();
      EXPECT_EQ(s.set(lib, c(), k.vr, 1.0), fmiOK) << k.vr;
      EXPECT_TRUE(logged_messages().empty());
    }
    ASSERT_EQ(initialize(), fmiOK);
    for (const Case& k : cases) {
      logged_messages().clear();
      const fmiStatus status = s.set(lib, c(), k.vr, 1.0);
      if (k.after) {
        EXPECT_EQ(status, fmiOK) << k.vr;
        EXPECT_TRUE(logged_messages().empty());
      } else {
        EXPECT_EQ(status, fmiError) << k.vr;
        ASSERT_EQ(logged_messages().size(), 1u);  // fmiError passes with debug logging off
        EXPECT_EQ(logged_messages()[0].status, fmiError);
        EXPECT_EQ(logged_messages()[0].category, "");
        EXPECT_EQ(text_of(0), std::string(s.name) + ": may not change #" + s.letter +
                                  std::to_string(k.vr) + "# after initialization\n");
      }
    }
    // After fmiTerminate everything may be set again.
    EXPECT_EQ(lib.Terminate(c()), fmiOK);
    EXPECT_EQ(s.set(lib, c(), ParameterRef(0), 9.0), fmiOK);
    instance.reset();
  }
}

TEST_F(Values, ReferencesOutsideTheirArrayAreRejected) {
  // Kinds that name no array, indices beyond the kind's count (also the spare element),
  // inputs and outputs (the model has none).
  const fmiValueReference rejected[] = {0x00000000u,
                                        ParameterRef(62),
                                        StateRef(4),
                                        DerivativeRef(4),
                                        AuxiliaryRef(1768),
                                        0x04000000u,
                                        0x05000000u,
                                        0x07000000u,
                                        0x0F000001u,
                                        ParameterRef(0xFFFFFF),
                                        WithLevel(StateRef(4), 2)};
  create();
  for (const Setter& s : setters()) {
    for (fmiValueReference vr : rejected) {
      SCOPED_TRACE(testing::Message() << s.name << " " << vr);
      logged_messages().clear();
      EXPECT_EQ(s.set(lib, c(), vr, 1.0), fmiError);
      ASSERT_EQ(logged_messages().size(), 1u);
      EXPECT_EQ(text_of(0),
                std::string(s.name) + ": cannot set #" + s.letter + std::to_string(vr) + "#  \n");
    }
  }
  // The level bits are ignored by the set functions.
  EXPECT_EQ(setters()[0].set(lib, c(), WithLevel(StateRef(1), 3), 0.25), fmiOK);
  EXPECT_EQ(m().states[1], 0.25);

  ASSERT_EQ(initialize(), fmiOK);
  const fmiValueReference getRejected[] = {StateRef(4), ParameterRef(62), AuxiliaryRef(1768),
                                           0x05000000u, 0x00000007u};
  for (fmiValueReference bad : getRejected) {
    SCOPED_TRACE(bad);
    logged_messages().clear();
    const fmiValueReference vr[] = {StateRef(2), bad, StateRef(0)};
    double v[3] = {Sentinel, Sentinel, Sentinel};
    EXPECT_EQ(lib.GetReal(c(), vr, 3, v), fmiError);
    EXPECT_EQ(v[0], 0.5235987755983);  // the earlier reference is delivered
    EXPECT_EQ(v[1], Sentinel);
    EXPECT_EQ(v[2], Sentinel);
    ASSERT_EQ(logged_messages().size(), 1u);
    EXPECT_EQ(text_of(0), "fmiGetReal: cannot get r#" + std::to_string(bad) + "#\n");
  }
  fmiInteger i = 0;
  fmiBoolean b = 0;
  const fmiValueReference bad = AuxiliaryRef(1768);
  logged_messages().clear();
  EXPECT_EQ(lib.GetInteger(c(), &bad, 1, &i), fmiError);
  EXPECT_EQ(lib.GetBoolean(c(), &bad, 1, &b), fmiError);
  EXPECT_EQ(text_of(0), "fmiGetInteger: cannot get i#" + std::to_string(bad) + "#\n");
  EXPECT_EQ(text_of(1), "fmiGetBoolean: cannot get b#" + std::to_string(bad) + "#\n");
}

TEST_F(Values, FailedSetKeepsEarlierValuesAndTheCache) {
  create_initialized();
  ASSERT_TRUE(derivatives_evaluate());
  const fmiValueReference vr[] = {StateRef(0), 0x00000005u, StateRef(1)};
  const double v[] = {0.125, 1.0, 0.5};
  EXPECT_EQ(lib.SetReal(c(), vr, 3, v), fmiError);
  EXPECT_EQ(text_of(0), "fmiSetReal: cannot set #r5#  \n");
  double x[4] = {};
  ASSERT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
  EXPECT_EQ(x[0], 0.125);
  EXPECT_EQ(x[1], 0.0);  // not reached
  EXPECT_EQ(m().computedLevel, 2);
  EXPECT_FALSE(derivatives_evaluate());
}

TEST_F(Values, SetConversions) {
  create_initialized();
  const fmiValueReference vr[] = {StateRef(0), StateRef(1), StateRef(2), StateRef(3)};
  const fmiBoolean bools[] = {1, 0, static_cast<fmiBoolean>(-1), 2};
  ASSERT_EQ(lib.SetBoolean(c(), vr, 4, bools), fmiOK);
  EXPECT_EQ(m().states[0], 1.0);
  EXPECT_EQ(m().states[1], 0.0);
  EXPECT_EQ(m().states[2], -1.0);  // read as a signed byte
  EXPECT_EQ(m().states[3], 2.0);
  const fmiInteger ints[] = {-7, std::numeric_limits<fmiInteger>::max(), 0, 3};
  ASSERT_EQ(lib.SetInteger(c(), vr, 4, ints), fmiOK);
  EXPECT_EQ(m().states[0], -7.0);
  EXPECT_EQ(m().states[1], 2147483647.0);
}

TEST_F(Values, IntegerAndBooleanGettersTruncateAndSaturate) {
  create_initialized();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    fmiInteger integer;
    fmiBoolean boolean;
  };
  const Case cases[] = {
      {-2.7, -2, static_cast<fmiBoolean>(-2)},
      {2.7, 2, 2},
      {1.0, 1, 1},
      {0.5, 0, 0},
      {0.0, 0, 0},
      {-0.9, 0, 0},
      {2147483647.9, 2147483647, static_cast<fmiBoolean>(0xFF)},
      {1e10, 2147483647, static_cast<fmiBoolean>(0xFF)},
      {inf, 2147483647, static_cast<fmiBoolean>(0xFF)},
      {-2147483648.5, -2147483647 - 1, 0},
      {-1e300, -2147483647 - 1, 0},
      {-inf, -2147483647 - 1, 0},
      {nan, 0, 0},
      {256.0, 256, 0},  // the low byte
  };
  const fmiValueReference vr = StateRef(0);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.value);
    ASSERT_EQ(lib.SetReal(c(), &vr, 1, &k.value), fmiOK);
    fmiInteger i = 99;
    fmiBoolean b = 99;
    EXPECT_EQ(lib.GetInteger(c(), &vr, 1, &i), fmiOK);
    EXPECT_EQ(lib.GetBoolean(c(), &vr, 1, &b), fmiOK);
    EXPECT_EQ(i, k.integer);
    EXPECT_EQ(b, k.boolean);
  }
}

// A function with a count argument, called with a count; delivers what it copied.
struct Counted {
  const char* name;
  const char* countName;
  size_t count;  // the right count
  bool needsInitialization;
  std::function<fmiStatus(const FmiLibrary&, fmiComponent, std::vector<double>&)> call;
};

TEST_F(Values, CountMismatchesWarnAndCopyTheSmallerCount) {
  const std::vector<Counted> functions = {
      {"fmiSetContinuousStates", "nx", 4, false,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         return lib.SetContinuousStates(c, v.data(), v.size());
       }},
      {"fmiGetContinuousStates", "nx", 4, false,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         return lib.GetContinuousStates(c, v.data(), v.size());
       }},
      {"fmiGetNominalContinuousStates", "nx", 4, false,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         return lib.GetNominalContinuousStates(c, v.data(), v.size());
       }},
      {"fmiGetStateValueReferences", "nx", 4, false,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         std::vector<fmiValueReference> vr(v.size(), 7u);
         const fmiStatus s = lib.GetStateValueReferences(c, vr.data(), vr.size());
         for (size_t i = 0; i < v.size(); ++i)
           v[i] = vr[i] == 7u ? Sentinel : static_cast<double>(vr[i]);
         return s;
       }},
      {"fmiGetDerivatives", "nx", 4, true,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         return lib.GetDerivatives(c, v.data(), v.size());
       }},
      {"fmiGetEventIndicators", "ni", 32, true,
       [](const FmiLibrary& lib, fmiComponent c, std::vector<double>& v) {
         return lib.GetEventIndicators(c, v.data(), v.size());
       }},
  };
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    for (const Counted& f : functions) {
      SCOPED_TRACE(testing::Message() << f.name << (loggingOn ? " logging on" : " logging off"));
      create(loggingOn);
      if (f.needsInitialization) {
        ASSERT_EQ(initialize(), fmiOK);
      }
      // The right count: every element; the reference copy for the comparisons below.
      std::vector<double> full(f.count, Sentinel);
      logged_messages().clear();
      ASSERT_EQ(f.call(lib, c(), full), fmiOK);
      EXPECT_TRUE(logged_messages().empty());
      for (size_t n : {f.count - 1, f.count + 2, size_t{0} + 1}) {
        std::vector<double> v(n, Sentinel);
        const bool input = std::string(f.name) == "fmiSetContinuousStates";
        if (input) v.assign(n, 0.0);  // its copy is checked in StateQueriesBeforeInitialization
        logged_messages().clear();
        EXPECT_EQ(f.call(lib, c(), v), fmiWarning) << n;
        for (size_t i = 0; i < n && !input; ++i) {
          if (i < f.count)
            EXPECT_EQ(v[i], full[i]) << n << " " << i;
          else
            EXPECT_EQ(v[i], Sentinel) << n << " " << i;  // beyond the model's count: untouched
        }
        if (loggingOn) {
          ASSERT_EQ(logged_messages().size(), 1u);
          EXPECT_EQ(logged_messages()[0].status, fmiWarning);
          EXPECT_EQ(text_of(0), std::string(f.name) + ": argument " + f.countName + " = " +
                                    std::to_string(n) + " is incorrect, should be " +
                                    std::to_string(f.count) + "\n");
        } else {
          EXPECT_TRUE(logged_messages().empty());  // a warning needs debug logging
        }
      }
      instance.reset();
    }
  }
}

TEST_F(Values, StateQueriesBeforeInitialization) {
  create();
  double x[4] = {}, nominal[4] = {};
  fmiValueReference vrx[4] = {};
  EXPECT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
  EXPECT_EQ(lib.GetNominalContinuousStates(c(), nominal, 4), fmiOK);
  EXPECT_EQ(lib.GetStateValueReferences(c(), vrx, 4), fmiOK);
  EXPECT_EQ(x[2], 0.5235987755983);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(nominal[i], 1.0);
    EXPECT_EQ(vrx[i], StateRef(static_cast<uint32_t>(i)));
  }
  // SetContinuousStates with a wrong count still copies the smaller count.
  const double y[2] = {0.5, 0.75};
  EXPECT_EQ(lib.SetContinuousStates(c(), y, 2), fmiWarning);
  EXPECT_EQ(m().states[0], 0.5);
  EXPECT_EQ(m().states[1], 0.75);
  EXPECT_EQ(m().states[2], 0.5235987755983);
}

TEST_F(Values, StringsAreNotSupported) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    create(loggingOn);
    const fmiValueReference vr = ParameterRef(0);
    fmiString in = "x";
    fmiString out = nullptr;
    logged_messages().clear();
    EXPECT_EQ(lib.SetString(c(), &vr, 1, &in), fmiWarning);
    EXPECT_EQ(lib.GetString(c(), &vr, 1, &out), fmiWarning);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m().parameters[0], 9.81);
    if (loggingOn) {
      ASSERT_EQ(logged_messages().size(), 2u);
      EXPECT_EQ(text_of(0), "fmiSetString: not supported\n");
      EXPECT_EQ(text_of(1), "fmiGetString: not supported\n");
    } else {
      EXPECT_TRUE(logged_messages().empty());
    }
    instance.reset();
  }
}

TEST_F(Values, NullComponentIsAnError) {
  fmiValueReference vr = StateRef(0);
  double r = 0;
  fmiInteger i = 0;
  fmiBoolean b = 0;
  fmiString s = nullptr;
  fmiEventInfo info{};
  EXPECT_EQ(lib.SetContinuousStates(nullptr, &r, 1), fmiError);
  EXPECT_EQ(lib.SetReal(nullptr, &vr, 1, &r), fmiError);
  EXPECT_EQ(lib.SetInteger(nullptr, &vr, 1, &i), fmiError);
  EXPECT_EQ(lib.SetBoolean(nullptr, &vr, 1, &b), fmiError);
  EXPECT_EQ(lib.SetString(nullptr, &vr, 1, &s), fmiError);
  EXPECT_EQ(lib.Initialize(nullptr, fmiFalse, 0.0, &info), fmiError);
  EXPECT_EQ(lib.GetDerivatives(nullptr, &r, 1), fmiError);
  EXPECT_EQ(lib.GetEventIndicators(nullptr, &r, 1), fmiError);
  EXPECT_EQ(lib.GetReal(nullptr, &vr, 1, &r), fmiError);
  EXPECT_EQ(lib.GetInteger(nullptr, &vr, 1, &i), fmiError);
  EXPECT_EQ(lib.GetBoolean(nullptr, &vr, 1, &b), fmiError);
  EXPECT_EQ(lib.GetString(nullptr, &vr, 1, &s), fmiError);
  EXPECT_EQ(lib.EventUpdate(nullptr, fmiFalse, &info), fmiError);
  EXPECT_EQ(lib.CompletedIntegratorStep(nullptr, &b), fmiError);
  EXPECT_EQ(lib.GetContinuousStates(nullptr, &r, 1), fmiError);
  EXPECT_EQ(lib.GetNominalContinuousStates(nullptr, &r, 1), fmiError);
  EXPECT_EQ(lib.GetStateValueReferences(nullptr, &vr, 1), fmiError);
}

TEST_F(Values, NullArraysWithCountsAreAnError) {
  create_initialized(fmiTrue);
  fmiValueReference vr = StateRef(0);
  double r = 0;
  fmiInteger i = 0;
  fmiBoolean b = 0;
  EXPECT_EQ(lib.SetContinuousStates(c(), nullptr, 4), fmiError);
  EXPECT_EQ(lib.SetReal(c(), nullptr, 1, &r), fmiError);
  EXPECT_EQ(lib.SetReal(c(), &vr, 1, nullptr), fmiError);
  EXPECT_EQ(lib.SetInteger(c(), &vr, 1, nullptr), fmiError);
  EXPECT_EQ(lib.SetBoolean(c(), nullptr, 1, &b), fmiError);
  EXPECT_EQ(lib.GetDerivatives(c(), nullptr, 4), fmiError);
  EXPECT_EQ(lib.GetEventIndicators(c(), nullptr, 32), fmiError);
  EXPECT_EQ(lib.GetReal(c(), &vr, 1, nullptr), fmiError);
  EXPECT_EQ(lib.GetInteger(c(), nullptr, 1, &i), fmiError);
  EXPECT_EQ(lib.GetBoolean(c(), &vr, 1, nullptr), fmiError);
  EXPECT_EQ(lib.GetContinuousStates(c(), nullptr, 4), fmiError);
  EXPECT_EQ(lib.GetNominalContinuousStates(c(), nullptr, 4), fmiError);
  EXPECT_EQ(lib.GetStateValueReferences(c(), nullptr, 4), fmiError);
  EXPECT_EQ(lib.Initialize(c(), fmiFalse, 0.0, nullptr), fmiError);
  EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, nullptr), fmiError);
  EXPECT_EQ(lib.CompletedIntegratorStep(c(), nullptr), fmiError);
  // With no elements a null array is fine.
  EXPECT_EQ(lib.SetReal(c(), nullptr, 0, nullptr), fmiOK);
  EXPECT_EQ(lib.GetReal(c(), nullptr, 0, nullptr), fmiOK);
  EXPECT_EQ(m().states[0], 0.0);
}

}  // namespace
