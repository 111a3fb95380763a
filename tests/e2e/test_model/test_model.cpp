// A small FMI 1.0 Model Exchange model for the host tests: a ball under gravity with a few
// scenarios that a host must handle and that the pendulum does not show (yet): state events,
// time events, a model that asks to stop, discarded evaluations, failures, step events.
//
// States x (height) and v (speed); parameters g, e (restitution), nominal (the nominal value
// of both states, which scales the integrator's absolute tolerance), the Integer scenario and
// the Boolean frozen (nothing moves). Scenarios:
//   0 a bouncing ball: the indicator x; at its zero crossing v := -e·v
//   1 x' = -x, and every evaluation more than 0.01 s after the last completed step is discarded
//   2 x' = v, v' = 0, v := 1 at the time event 0.3 s, the model stops at the time event 0.5 s
//   3 the ball, but derivatives fail with fmiError from 0.2 s on
//   4 x' = v, v' = 0; the first completed step at or after 0.25 s asks for an event update,
//     which sets v := 1
//   5 a time event at 0.3 s that every event update announces again for the same time
//   6 the ball and a time event a hair before 0.3 s that changes nothing, recording like a
//     model that writes a result row at each completed step within 1e-7 s of a whole
//     millisecond with the values of its last evaluation: a completed step whose time and
//     states were not evaluated, or a second row for one millisecond, fails with fmiError
//   9 like 3 with fmiFatal, after which every call but the free of the instance aborts
//   10 the ball, but fmiGetStateValueReferences returns fmiFatal, with the same consequence
//   11 the ball, but fmiGetStateValueReferences returns fmiWarning with the references filled
//   12 x' = x·x: from x = 1 at 0 s it grows past every bound before 1 s, which no integrator
//     gets through, though every call of the model succeeds
//   13 the ball; the first completed step at or after 0.25 s asks for an event update, which
//     changes nothing
//   14 x' = v, v' = 0; the event update at the time event 0.3 s asks to stop before its
//     iteration has converged; another event update after that fails with fmiError
//   15 x' = v, v' = 0; the first completed step at or after 0.5 s returns fmiWarning, the only
//     warning of the run
//   16 x' = v, v' = 0; with debug logging on every evaluation of the derivatives logs a line;
//     from 0.2 s a completed step logs 25 lines and fails with fmiError
//   17 the ball; until its tenth completed step every evaluation of the derivatives more than
//     0.01 s after the last completed step is discarded
//   18 like 12, but its first completed step returns fmiWarning
//
// Variants of the library, each built with a compile definition and packed into an FMU of its
// own: TEST_MODEL_UNDEFINED_SYMBOL, fmiInitialize calls a function that no library defines;
// TEST_MODEL_FMI_VERSION, fmiGetVersion answers that version; TEST_MODEL_START_TIME_STATUS,
// fmiSetTime before the initialisation returns that status.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>


#include "fmi/fmi_types.h"

namespace {

constexpr const char* Guid = "{5c0b7d2e-0d6a-4b8e-9d4e-7a1f3c2b9e10}";

struct Instance {
  fmiCallbackFunctions functions;
  bool logging = false;
  bool initialized = false;
  double time = 0.0;
  double x = 1.0, v = 0.0;  // states
  double g = 9.81, e = 0.5;
  double nominal = 1.0;
  int scenario = 0;
  int bounces = 0;
  bool frozen = false;
  double lastCompleted = 0.0;
  bool stepEventDone = false;
  double nextTimeEvent = 0.0;  // scenario 2
  // The point of the last evaluation of derivatives or event indicators (scenario 6).
  bool evaluated = false;
  double evaluatedTime = 0.0, evaluatedX = 0.0, evaluatedV = 0.0;
  double lastRowTime = -INFINITY;  // scenario 6
  long lastRowMillisecond = -1;
  bool fatal = false;  // scenario 9
  bool terminateAsked = false;  // scenario 14
  bool warned = false;  // scenario 15
  int completedSteps = 0;  // scenario 17
};

Instance* instance = nullptr;

__attribute__((format(printf, 2, 3))) void log(fmiStatus status, const char* format, ...) {
  if (!instance || (!instance->logging && status < fmiError) || !instance->functions.logger) return;
  char text[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  instance->functions.logger(instance, "TestModel", status, "test", "%s", text);
}

// Scenario 9: after fmiFatal no call but the free may come.
Instance* of(fmiComponent c) {
  Instance* m = static_cast<Instance*>(c);
  if (m->fatal) std::abort();
  return m;
}

void note_evaluation(Instance& m) {
  m.evaluated = true;
  m.evaluatedTime = m.time;
  m.evaluatedX = m.x;
  m.evaluatedV = m.v;
}

bool evaluated_here(const Instance& m) {
  return m.evaluated && m.evaluatedTime == m.time && m.evaluatedX == m.x && m.evaluatedV == m.v;
}

// Scenario 6: the row of a completed step within 1e-7 s of a millisecond, or of the
// initialisation (wherever the start lies); false for a second row of a millisecond.
bool record_row(Instance& m, bool initialisation) {
  const double ms = std::floor(1000.0 * m.time + 0.5);
  const bool onGrid = std::fabs(1000.0 * m.time - ms) < 1e-4;
  if (!initialisation && !(onGrid && m.lastRowTime < m.time)) return true;
  if (onGrid) {
    if (static_cast<long>(ms) == m.lastRowMillisecond) {
      log(fmiError, "a second row for millisecond %ld at t = %.17g s", m.lastRowMillisecond,
          m.time);
      return false;
    }
    m.lastRowMillisecond = static_cast<long>(ms);
  }
  m.lastRowTime = m.time;
  return true;
}

void derivatives(const Instance& m, double dx[2]) {
  dx[0] = dx[1] = 0.0;
  if (m.frozen) return;
  switch (m.scenario) {
    case 0:
    case 3:
    case 6:
    case 9:
    case 10:
    case 11:
    case 13:
    case 17:
      dx[0] = m.v;
      dx[1] = -m.g;
      break;
    case 1:
      dx[0] = -m.x;
      break;
    case 12:
    case 18:
      dx[0] = m.x * m.x;
      break;
    default:
      dx[0] = m.v;
      break;
  }
}

void event_info_after(Instance& m, fmiEventInfo* info) {
  info->iterationConverged = fmiTrue;
  info->stateValueReferencesChanged = fmiFalse;
  info->terminateSimulation = fmiFalse;
  info->upcomingTimeEvent =
      (m.scenario == 2 || m.scenario == 5 || m.scenario == 6 || m.scenario == 14) &&
              m.nextTimeEvent > 0.0
          ? fmiTrue
          : fmiFalse;
  if (info->upcomingTimeEvent) info->nextEventTime = m.nextTimeEvent;
}

}  // namespace

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT const char* TestModel_fmiGetModelTypesPlatform() { return "standard32"; }
#ifdef TEST_MODEL_FMI_VERSION
TEST_EXPORT const char* TestModel_fmiGetVersion() { return TEST_MODEL_FMI_VERSION; }
#else
TEST_EXPORT const char* TestModel_fmiGetVersion() { return "1.0"; }
#endif

#ifdef TEST_MODEL_UNDEFINED_SYMBOL
extern "C" void test_model_undefined_function();
#endif

TEST_EXPORT fmiComponent TestModel_fmiInstantiateModel(fmiString, fmiString guid,
                                                        fmiCallbackFunctions functions,
                                                        fmiBoolean loggingOn) {
  if (instance != nullptr) return nullptr;
  if (guid == nullptr || std::strcmp(guid, Guid) != 0) {
    if (functions.logger)
      functions.logger(nullptr, "TestModel", fmiError, "test", "%s", "wrong GUID");
    return nullptr;
  }
  instance = new Instance();
  instance->functions = functions;
  instance->logging = loggingOn != fmiFalse;
  return instance;
}

TEST_EXPORT void TestModel_fmiFreeModelInstance(fmiComponent c) {
  delete static_cast<Instance*>(c);
  instance = nullptr;
}

TEST_EXPORT fmiStatus TestModel_fmiSetDebugLogging(fmiComponent c, fmiBoolean on) {
  of(c)->logging = on != fmiFalse;
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetTime(fmiComponent c, fmiReal t) {
  of(c)->time = t;
#ifdef TEST_MODEL_START_TIME_STATUS
  if (!of(c)->initialized) {
    log(TEST_MODEL_START_TIME_STATUS, "the test model refuses its start time %g s", t);
    return TEST_MODEL_START_TIME_STATUS;
  }
#endif
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetContinuousStates(fmiComponent c, const fmiReal x[],
                                                       size_t nx) {
  if (nx != 2) return fmiError;
  of(c)->x = x[0];
  of(c)->v = x[1];
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiCompletedIntegratorStep(fmiComponent c,
                                                          fmiBoolean* callEventUpdate) {
  Instance& m = *of(c);
  if (m.scenario == 16 && m.time >= 0.2) {
    for (int line = 1; line <= 25; ++line) log(fmiOK, "step report line %d", line);
    log(fmiError, "the test model fails its completed step at t = %g s", m.time);
    return fmiError;
  }
  if (m.scenario == 6) {
    if (!evaluated_here(m)) {
      log(fmiError, "completed step at t = %.17g s without an evaluation there", m.time);
      return fmiError;
    }
    if (!record_row(m, false)) return fmiError;
  }
  m.lastCompleted = m.time;
  ++m.completedSteps;
  *callEventUpdate = fmiFalse;
  if ((m.scenario == 4 || m.scenario == 13) && !m.stepEventDone && m.time >= 0.25)
    *callEventUpdate = fmiTrue;
  if ((m.scenario == 15 && !m.warned && m.time >= 0.5) || (m.scenario == 18 && !m.warned)) {
    m.warned = true;
    log(fmiWarning, "the test model warns once");
    return fmiWarning;
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetReal(fmiComponent c, const fmiValueReference vr[], size_t n,
                                          const fmiReal value[]) {
  Instance& m = *of(c);
  for (size_t i = 0; i < n; ++i) {
    double* target[] = {&m.x, &m.v, nullptr, nullptr, &m.g, &m.e, &m.nominal};
    if (vr[i] >= 7 || target[vr[i]] == nullptr) return fmiError;
    *target[vr[i]] = value[i];
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetInteger(fmiComponent c, const fmiValueReference vr[],
                                             size_t n, const fmiInteger value[]) {
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] != 0) return fmiError;
    of(c)->scenario = value[i];
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetBoolean(fmiComponent c, const fmiValueReference vr[],
                                             size_t n, const fmiBoolean value[]) {
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] != 0) return fmiError;
    of(c)->frozen = value[i] != fmiFalse;
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiSetString(fmiComponent, const fmiValueReference[], size_t n,
                                            const fmiString[]) {
  return n == 0 ? fmiOK : fmiError;
}

TEST_EXPORT fmiStatus TestModel_fmiInitialize(fmiComponent c, fmiBoolean, fmiReal,
                                             fmiEventInfo* info) {
  Instance& m = *of(c);
#ifdef TEST_MODEL_UNDEFINED_SYMBOL
  test_model_undefined_function();
#endif
  m.initialized = true;
  m.lastCompleted = m.time;
  if (m.scenario == 2 || m.scenario == 5 || m.scenario == 14) m.nextTimeEvent = 0.3;
  // The first step after this event, of a thousandth of the default output interval, would end
  // 5e-8 s after the output point 0.3 s.
  if (m.scenario == 6) {
    m.nextTimeEvent = 0.3 - 1e-6 + 5e-8;
    record_row(m, true);
  }
  info->stateValuesChanged = fmiFalse;
  event_info_after(m, info);
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetDerivatives(fmiComponent c, fmiReal dx[], size_t nx) {
  Instance& m = *of(c);
  if (nx != 2) return fmiError;
  if (m.scenario == 16) log(fmiOK, "derivatives at t = %g s", m.time);
  if (m.scenario == 1 && m.time > m.lastCompleted + 0.01) {
    log(fmiDiscard, "refusing a step to %g s", m.time);
    return fmiDiscard;
  }
  if (m.scenario == 17 && m.completedSteps < 10 && m.time > m.lastCompleted + 0.01) {
    log(fmiDiscard, "refusing a step to %g s", m.time);
    return fmiDiscard;
  }
  if (m.scenario == 3 && m.time >= 0.2) {
    log(fmiError, "the test model fails at t = %g s", m.time);
    return fmiError;
  }
  if (m.scenario == 9 && m.time >= 0.2) {
    log(fmiFatal, "the test model fails fatally at t = %g s", m.time);
    m.fatal = true;
    return fmiFatal;
  }
  derivatives(m, dx);
  note_evaluation(m);
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetEventIndicators(fmiComponent c, fmiReal z[], size_t ni) {
  if (ni != 1) return fmiError;
  z[0] = of(c)->x;
  note_evaluation(*of(c));
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetReal(fmiComponent c, const fmiValueReference vr[], size_t n,
                                          fmiReal value[]) {
  Instance& m = *of(c);
  double dx[2];
  derivatives(m, dx);
  for (size_t i = 0; i < n; ++i) {
    const double values[] = {m.x, m.v, dx[0], dx[1], m.g, m.e, m.nominal};
    if (vr[i] >= 7) return fmiError;
    value[i] = values[vr[i]];
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetInteger(fmiComponent c, const fmiValueReference vr[],
                                             size_t n, fmiInteger value[]) {
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] > 1) return fmiError;
    value[i] = vr[i] == 0 ? of(c)->scenario : of(c)->bounces;
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetBoolean(fmiComponent c, const fmiValueReference vr[],
                                             size_t n, fmiBoolean value[]) {
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] != 0) return fmiError;
    value[i] = of(c)->frozen ? fmiTrue : fmiFalse;
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetString(fmiComponent, const fmiValueReference[], size_t n,
                                            fmiString[]) {
  return n == 0 ? fmiOK : fmiError;
}

TEST_EXPORT fmiStatus TestModel_fmiEventUpdate(fmiComponent c, fmiBoolean, fmiEventInfo* info) {
  Instance& m = *of(c);
  if (m.terminateAsked) {
    log(fmiError, "an event update after the model asked to stop at t = %g s", m.time);
    return fmiError;
  }
  info->stateValuesChanged = fmiFalse;
  if ((m.scenario == 0 || m.scenario == 3 || m.scenario == 6 || m.scenario == 11) &&
      m.x <= 1e-9 && m.v < 0.0) {
    m.v = -m.e * m.v;
    m.x = 0.0;  // on the ground, not a rounding error below it
    ++m.bounces;
    info->stateValuesChanged = fmiTrue;
  }
  bool terminate = false;
  if (m.scenario == 6 && m.nextTimeEvent > 0.0 && m.time >= m.nextTimeEvent) m.nextTimeEvent = 0.0;
  if (m.scenario == 2 && m.nextTimeEvent > 0.0 && m.time >= m.nextTimeEvent) {
    if (m.nextTimeEvent == 0.3) {
      m.v = 1.0;
      m.nextTimeEvent = 0.5;
      info->stateValuesChanged = fmiTrue;
    } else {
      terminate = true;
    }
  }
  if (m.scenario == 4 && !m.stepEventDone && m.time >= 0.25) {
    m.stepEventDone = true;
    m.v = 1.0;
    info->stateValuesChanged = fmiTrue;
  }
  if (m.scenario == 13 && m.time >= 0.25) m.stepEventDone = true;
  const bool stopUnsettled = m.scenario == 14 && m.time >= 0.3;
  if (stopUnsettled) {
    m.terminateAsked = true;
    m.nextTimeEvent = 0.0;
  }
  event_info_after(m, info);
  if (stopUnsettled) info->iterationConverged = fmiFalse;
  info->terminateSimulation = terminate || stopUnsettled ? fmiTrue : fmiFalse;
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetContinuousStates(fmiComponent c, fmiReal x[], size_t nx) {
  if (nx != 2) return fmiError;
  x[0] = of(c)->x;
  x[1] = of(c)->v;
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetNominalContinuousStates(fmiComponent c, fmiReal x[],
                                                             size_t nx) {
  for (size_t i = 0; i < nx; ++i) x[i] = of(c)->nominal;
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiGetStateValueReferences(fmiComponent c, fmiValueReference vr[],
                                                          size_t nx) {
  Instance& m = *of(c);
  if (m.scenario == 10) {
    log(fmiFatal, "the test model fails fatally at t = %g s", m.time);
    m.fatal = true;
    return fmiFatal;
  }
  for (size_t i = 0; i < nx; ++i) vr[i] = static_cast<fmiValueReference>(i);
  if (m.scenario == 11) {
    log(fmiWarning, "the state references come with a warning");
    return fmiWarning;
  }
  return fmiOK;
}

TEST_EXPORT fmiStatus TestModel_fmiTerminate(fmiComponent c) {
  of(c)->initialized = false;
  return fmiOK;
}
