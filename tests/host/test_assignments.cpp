// A --set NAME=VALUE resolved against the model description: the reference and the value that
// are set, an alias's sign applied, and the texts of what cannot be set.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/assignments.h"
#include "host/errors.h"
#include "host/model_description.h"

namespace {

// The variables share reference 1 across the types, as FMI 1.0 allows: an alias must find
// the base of its own type.
const char* const Xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<fmiModelDescription fmiVersion="1.0" modelName="m" modelIdentifier="m" guid="{0}"
    numberOfContinuousStates="1" numberOfEventIndicators="0">
  <ModelVariables>
    <ScalarVariable name="k" valueReference="1" variability="parameter">
      <Real start="2"/></ScalarVariable>
    <ScalarVariable name="kAlias" valueReference="1" variability="parameter" alias="alias">
      <Real/></ScalarVariable>
    <ScalarVariable name="kMinus" valueReference="1" variability="parameter" alias="negatedAlias">
      <Real/></ScalarVariable>
    <ScalarVariable name="n" valueReference="1" variability="parameter">
      <Integer start="3"/></ScalarVariable>
    <ScalarVariable name="nMinus" valueReference="1" variability="parameter" alias="negatedAlias">
      <Integer/></ScalarVariable>
    <ScalarVariable name="on" valueReference="1" variability="parameter">
      <Boolean start="true"/></ScalarVariable>
    <ScalarVariable name="off" valueReference="1" variability="parameter" alias="negatedAlias">
      <Boolean/></ScalarVariable>
    <ScalarVariable name="x" valueReference="2"><Real start="0"/></ScalarVariable>
    <ScalarVariable name="y" valueReference="3" causality="output"><Real/></ScalarVariable>
    <ScalarVariable name="g" valueReference="4" variability="constant">
      <Real start="9.81"/></ScalarVariable>
    <ScalarVariable name="gAlias" valueReference="4" variability="constant" alias="alias">
      <Real/></ScalarVariable>
    <ScalarVariable name="label" valueReference="5" variability="parameter">
      <String start="a"/></ScalarVariable>
    <ScalarVariable name="mode" valueReference="6" variability="parameter">
      <Enumeration declaredType="Mode" start="1"/></ScalarVariable>
    <ScalarVariable name="xFlag" valueReference="2" alias="alias"><Boolean/></ScalarVariable>
  </ModelVariables>
</fmiModelDescription>
)";

struct Resolved {
  Assignment assignment;
  VariableType type;
  fmiValueReference valueReference;
  double real;
  fmiInteger integer;
  fmiBoolean boolean;
};

TEST(Assignments, ValuesOfEachTypeAliasesWithTheirSign) {
  const ModelDescription d = parse_model_description(Xml);
  const VariableType R = VariableType::Real, I = VariableType::Integer,
                     B = VariableType::Boolean;
  const Resolved cases[] = {
      {{"k", "1.5"}, R, 1, 1.5, 0, fmiFalse},
      {{"k", "+2"}, R, 1, 2.0, 0, fmiFalse},
      {{"k", "-3e-2"}, R, 1, -3e-2, 0, fmiFalse},
      {{"x", "0.25"}, R, 2, 0.25, 0, fmiFalse},  // a state's start value
      {{"kAlias", "1.5"}, R, 1, 1.5, 0, fmiFalse},
      {{"kMinus", "1.5"}, R, 1, -1.5, 0, fmiFalse},
      {{"kMinus", "-2"}, R, 1, 2.0, 0, fmiFalse},
      {{"n", "7"}, I, 1, 0.0, 7, fmiFalse},
      {{"n", "-7"}, I, 1, 0.0, -7, fmiFalse},
      {{"n", "2147483647"}, I, 1, 0.0, INT32_MAX, fmiFalse},
      {{"n", "-2147483648"}, I, 1, 0.0, INT32_MIN, fmiFalse},
      {{"nMinus", "7"}, I, 1, 0.0, -7, fmiFalse},
      {{"nMinus", "2147483647"}, I, 1, 0.0, -INT32_MAX, fmiFalse},
      {{"nMinus", "-2147483647"}, I, 1, 0.0, INT32_MAX, fmiFalse},
      {{"on", "1"}, B, 1, 0.0, 0, fmiTrue},
      {{"on", "true"}, B, 1, 0.0, 0, fmiTrue},
      {{"on", "0"}, B, 1, 0.0, 0, fmiFalse},
      {{"on", "false"}, B, 1, 0.0, 0, fmiFalse},
      {{"off", "true"}, B, 1, 0.0, 0, fmiFalse},
      {{"off", "1"}, B, 1, 0.0, 0, fmiFalse},
      {{"off", "false"}, B, 1, 0.0, 0, fmiTrue},
      {{"off", "0"}, B, 1, 0.0, 0, fmiTrue},
  };
  for (const Resolved& c : cases) {
    SCOPED_TRACE(c.assignment.name + "=" + c.assignment.value);
    ResolvedAssignment r;
    try {
      r = resolve_assignment(d, c.assignment);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "refused: " << e.what();
      continue;
    }
    ASSERT_NE(r.variable, nullptr);
    EXPECT_EQ(r.variable->name, c.assignment.name);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.valueReference, c.valueReference);
    EXPECT_EQ(r.real, c.real);
    EXPECT_EQ(r.integer, c.integer);
    EXPECT_EQ(int(r.boolean), int(c.boolean));
  }
}

struct Refused {
  Assignment assignment;
  std::string error;
  bool usage;  // a bad command line (UsageError), else a broken FMU (HostError)
};

TEST(Assignments, WhatCannotBeSetAndValuesThatDoNotParse) {
  const ModelDescription d = parse_model_description(Xml);
  const auto no = [](const char* name, const char* value, const char* type) {
    return Refused{{name, value},
                   std::string("--set ") + name + ": \"" + value + "\" is no " + type + " value",
                   true};
  };
  const Refused cases[] = {
      no("k", "", "Real"), no("k", "inf", "Real"), no("k", "nan", "Real"),
      no("k", "1,5", "Real"), no("k", "+-1", "Real"), no("kMinus", "one", "Real"),
      no("k", "1e400x", "Real"),
      {{"k", "1e400"}, "--set k: \"1e400\" is out of the range of a double", true},
      {{"kMinus", "-1e-400"}, "--set kMinus: \"-1e-400\" is too close to 0 for a double", true},
      no("n", "2147483648", "Integer"), no("n", "-2147483649", "Integer"),
      no("n", "+5", "Integer"), no("n", "5.0", "Integer"), no("n", "1e3", "Integer"),
      no("n", "", "Integer"), no("n", " 5", "Integer"),
      // Its negation is no 32-bit integer.
      no("nMinus", "-2147483648", "Integer"),
      no("on", "TRUE", "Boolean"), no("on", "yes", "Boolean"), no("on", "2", "Boolean"),
      no("on", "01", "Boolean"), no("on", "-0", "Boolean"), no("on", "1.0", "Boolean"),
      no("on", "", "Boolean"), no("off", "True", "Boolean"),
      {{"speed", "1"}, "unknown variable speed", true},
      {{"g", "10"}, "g is a constant", true},
      {{"gAlias", "10"}, "gAlias is a constant", true},
      {{"y", "1"}, "y has no start value: it is computed by the model and cannot be set", true},
      {{"label", "b"}, "--set label: String variables cannot be set", true},
      {{"mode", "2"}, "--set mode: Enumeration variables cannot be set", true},
      // Reference 2 belongs to a Real: the model has no Boolean there.
      {{"xFlag", "true"}, "xFlag is an alias of a variable the model lacks", false},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.assignment.name + "=" + c.assignment.value);
    try {
      resolve_assignment(d, c.assignment);
      ADD_FAILURE() << "resolved";
    } catch (const UsageError& e) {
      EXPECT_TRUE(c.usage) << "a UsageError";
      EXPECT_EQ(e.what(), c.error);
    } catch (const HostError& e) {
      EXPECT_FALSE(c.usage) << "a HostError, not a UsageError";
      EXPECT_EQ(e.what(), c.error);
    }
  }
}

}  // namespace
