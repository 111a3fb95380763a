// The generated modelDescription.xml against the library it describes: its header, what each
// kind of variable says, the rules hosts rely on, and every value reference resolving through
// the library to the value that the result file records under the same name.
#include <pugixml.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fmi_fixture.h"
#include "unit/mat4_reader.h"

namespace {

struct XmlVariable {
  std::string name;
  uint32_t vr = 0;
  std::string type, variability, causality, alias;
  std::optional<std::string> start, min, max, nominal;
};

struct Description {
  pugi::xml_document document;
  pugi::xml_node root;
  std::vector<XmlVariable> variables;
  std::map<std::string, size_t> byName;
  bool ok = false;
};

std::optional<std::string> attribute(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute a = node.attribute(name);
  return a ? std::optional<std::string>(a.value()) : std::nullopt;
}

const Description& description() {
  static Description d;
  static const bool loaded = [] {
    if (!d.document.load_file(TAVELO_MODEL_DESCRIPTION_PATH)) return false;
    d.root = d.document.child("fmiModelDescription");
    for (const pugi::xml_node v : d.root.child("ModelVariables").children("ScalarVariable")) {
      XmlVariable x;
      x.name = v.attribute("name").value();
      x.vr = static_cast<uint32_t>(
        std::strtoul(v.attribute("valueReference").value(), nullptr, 10));
      x.variability = v.attribute("variability").value();
      x.causality = v.attribute("causality").value();
      x.alias = attribute(v, "alias").value_or("noAlias");
      const pugi::xml_node typed = v.first_child();
      x.type = typed.name();
      x.start = attribute(typed, "start");
      x.min = attribute(typed, "min");
      x.max = attribute(typed, "max");
      x.nominal = attribute(typed, "nominal");
      d.byName.emplace(x.name, d.variables.size());
      d.variables.push_back(std::move(x));
    }
    d.ok = true;
    return true;
  }();
  (void)loaded;
  return d;
}

const XmlVariable* find(const std::string& name) {
  const Description& d = description();
  const auto it = d.byName.find(name);
  return it == d.byName.end() ? nullptr : &d.variables[it->second];
}

// The variable behind a reference: same type and reference, no alias.
const XmlVariable* base_of(const XmlVariable& v) {
  for (const XmlVariable& b : description().variables)
    if (b.alias == "noAlias" && b.vr == v.vr && b.type == v.type) return &b;
  return nullptr;
}

double sign_of(const XmlVariable& v) { return v.alias == "negatedAlias" ? -1.0 : 1.0; }

TEST(ModelDescription, Header) {
  const Description& d = description();
  ASSERT_TRUE(d.ok) << "cannot read " << TAVELO_MODEL_DESCRIPTION_PATH;
  const std::map<std::string, std::string> expected = {
      {"fmiVersion", "1.0"},
      {"modelName", "Tavelo"},
      {"modelIdentifier", "Tavelo"},
      {"guid", TaveloGUID},
      {"numberOfContinuousStates", "4"},
      {"numberOfEventIndicators", "32"},
  };
  for (const auto& [name, value] : expected)
    EXPECT_EQ(d.root.attribute(name.c_str()).value(), value) << name;
  const pugi::xml_node experiment = d.root.child("DefaultExperiment");
  EXPECT_STREQ(experiment.attribute("startTime").value(), "0");
  EXPECT_STREQ(experiment.attribute("stopTime").value(), "10");
  EXPECT_STREQ(experiment.attribute("tolerance").value(), "1e-6");
  ASSERT_EQ(d.variables.size(), 2324u);
  EXPECT_EQ(d.byName.size(), 2324u) << "names are not unique";
  EXPECT_EQ(d.variables.front().name, "world.frame_b.r_0[1]");
  EXPECT_EQ(d.variables.back().name, "pendulumJoint.support.tau");
}

// Value references: level << 28 | kind << 24 | position in the kind's array.
TEST(ModelDescription, WhatEachKindOfVariableSays) {
  struct Case {
    const char* name;
    uint32_t vr;
    const char* type;
    const char* variability;
    const char* alias;
    std::optional<const char*> start, min, max;
  } cases[] = {
      // Parameters: level 0, kind 1; bounds only where the pair is not 0 and 0.
      {"world.g", 0x01000000, "Real", "parameter", "noAlias", "9.81", {}, {}},
      {"world.mue", 0x01000001, "Real", "parameter", "noAlias", "3.986e+14", "0", "1e+100"},
      {"arm.I_21", 0x01000015, "Real", "parameter", "noAlias", "0", "-1e+60", "1e+100"},
      {"armBearingFriction.peak", 0x0100003A, "Real", "parameter", "noAlias", "1", "1", "1e+100"},
      {"pendulumBearingFriction.w_small", 0x0100003D, "Real", "parameter", "noAlias", "1e+10",
       {}, {}},
      // States: level 0, kind 2, with their start values.
      {"armJoint.phi", 0x02000000, "Real", "continuous", "noAlias", "0", {}, {}},
      {"pendulumJoint.phi", 0x02000002, "Real", "continuous", "noAlias", "0.5235987755983", {},
       {}},
      // Derivatives: level 2, kind 3, no start.
      {"armJoint.der(phi)", 0x23000000, "Real", "continuous", "noAlias", {}, {}, {}},
      {"pendulumJoint.der(w)", 0x23000003, "Real", "continuous", "noAlias", {}, {}, {}},
      // Auxiliaries the constant section writes: constants with their value.
      {"world.frame_b.r_0[1]", 0x06000000, "Real", "constant", "noAlias", "0", {}, {}},
      {"world.gravityType", 0x06000012, "Real", "constant", "noAlias", "2", "1", "3"},
      {"world.axisLength", 0x06000016, "Real", "constant", "noAlias", "0.5", {}, {}},
      {"world.gravityArrowColor[2]", 0x06000025, "Real", "constant", "noAlias", "230", "0",
       "255"},
      {"armBearingFriction.Unknown", 0x060006CC, "Real", "constant", "noAlias", "3", {}, {}},
      {"pendulumBearingFriction.Backward", 0x060006E3, "Real", "constant", "noAlias", "-1", {},
       {}},
      {"arm.shape2.Form", 0x060004D9, "Real", "constant", "noAlias", "9.87102e+25", {}, {}},
      // Time-invariant auxiliaries the initialisation computes: parameters without start,
      // on either side of the constants around them.
      {"world.axisDiameter", 0x06000017, "Real", "parameter", "noAlias", {}, {}, {}},
      {"world.headLength", 0x06000034, "Real", "parameter", "noAlias", {}, {}, {}},
      {"world.labelStart", 0x06000039, "Real", "constant", "noAlias", "0.525", {}, {}},
      // Time-varying auxiliaries: level 3; the friction modes and Booleans discrete.
      {"armBearingFriction.sa", 0x360006C8, "Real", "continuous", "noAlias", {}, {}, {}},
      {"armBearingFriction.startForward", 0x360006C9, "Boolean", "discrete", "noAlias", {}, {},
       {}},
      {"armBearingFriction.locked", 0x360006CB, "Boolean", "discrete", "noAlias", {}, {}, {}},
      {"armBearingFriction.mode", 0x360006D1, "Integer", "discrete", "noAlias", {}, {}, {}},
      {"armBearingFriction.phi", 0x360006D4, "Real", "continuous", "noAlias", {}, {}, {}},
      {"pendulumBearingFriction.startBackward", 0x360006DD, "Boolean", "discrete", "noAlias", {},
       {}, {}},
      {"pendulumBearingFriction.mode", 0x360006E4, "Integer", "discrete", "noAlias", {}, {}, {}},
      // Aliases carry their target's reference, type and variability, and no start of their
      // own but a constant's.
      {"world.frame_b.f[1]", 0x360005FE, "Real", "continuous", "negatedAlias", {}, {}, {}},
      {"world.frame_b.f[2]", 0x3600060D, "Real", "continuous", "alias", {}, {}, {}},
      {"armJoint.angle", 0x02000000, "Real", "continuous", "alias", {}, {}, {}},
      {"armJoint.a", 0x23000001, "Real", "continuous", "alias", {}, {}, {}},
      {"armJoint.fixed.flange.phi", 0x01000038, "Real", "parameter", "alias", {}, {}, {}},
      {"world.x_arrowLine.length", 0x06000036, "Real", "parameter", "alias", {}, {}, {}},
      {"arm.specularCoefficient", 0x01000009, "Real", "parameter", "alias", {}, {}, {}},
      {"pendulumBearingFriction.tau0", 0x060006D8, "Real", "parameter", "alias", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const XmlVariable* v = find(c.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->vr, c.vr);
    EXPECT_EQ(v->type, c.type);
    EXPECT_EQ(v->variability, c.variability);
    EXPECT_EQ(v->causality, "internal");
    EXPECT_EQ(v->alias, c.alias);
    auto text = [](const std::optional<const char*>& s) {
      return s ? std::optional<std::string>(*s) : std::nullopt;
    };
    EXPECT_EQ(v->start, text(c.start));
    EXPECT_EQ(v->min, text(c.min));
    EXPECT_EQ(v->max, text(c.max));
    EXPECT_EQ(v->nominal, std::nullopt);
  }
}

// What standard hosts check: types and variabilities that fit, literals of the type, aliases
// that agree with their variable.
TEST(ModelDescription, RulesHostsRelyOn) {
  const Description& d = description();
  ASSERT_TRUE(d.ok);
  std::map<std::string, int> counts;
  for (const XmlVariable& v : d.variables) {
    SCOPED_TRACE(v.name);
    ++counts[v.alias];
    ++counts[v.type];
    if (v.alias == "noAlias") ++counts[v.variability];
    EXPECT_EQ(v.causality, "internal");
    if (v.type != "Real") {
      EXPECT_EQ(v.variability, "discrete");
    }
    if (v.start && v.type == "Integer") {
      EXPECT_EQ(std::to_string(std::atoi(v.start->c_str())), *v.start);
    }
    if (v.start && v.type == "Boolean") {
      EXPECT_TRUE(*v.start == "true" || *v.start == "false");
    }
    if (v.variability == "constant") {
      EXPECT_TRUE(v.start) << "a constant without its value";
    }
    if (v.alias == "noAlias") continue;
    const XmlVariable* base = base_of(v);
    ASSERT_NE(base, nullptr) << "an alias without its variable";
    EXPECT_EQ(v.variability, base->variability);
    if (v.start) {
      ASSERT_TRUE(base->start);
      EXPECT_EQ(std::strtod(v.start->c_str(), nullptr),
                sign_of(v) * std::strtod(base->start->c_str(), nullptr));
    }
  }
  EXPECT_EQ(counts["noAlias"], 1838);
  EXPECT_EQ(counts["alias"] + counts["negatedAlias"], 486);
  EXPECT_EQ(counts["constant"], 1485);
  EXPECT_EQ(counts["parameter"], 62 + 1669 - 1485);
  EXPECT_EQ(counts["discrete"], 8);
  EXPECT_EQ(counts["continuous"], 4 + 4 + 99 - 8);
  EXPECT_EQ(counts["Integer"], 2);
  EXPECT_EQ(counts["Boolean"], 6);
}

// The result file's value of a signal at the first recorded time, by name.
struct RecordedValues {
  mat4::File f;
  std::map<std::string, int32_t> signal;
  explicit RecordedValues(const std::string& path) : f(mat4::read(path)) {
    const mat4::Matrix* names = f.find("name");
    if (names == nullptr) return;
    for (int32_t j = 0; j < names->ncols; ++j) {
      std::string n = names->column_string(j);
      signal.emplace(n.erase(n.find_last_not_of(' ') + 1), j);
    }
  }
  std::optional<float> value(const std::string& name) const {
    const auto it = signal.find(name);
    if (it == signal.end()) return std::nullopt;
    const mat4::Matrix& info = *f.find("dataInfo");
    const int matrix = static_cast<int>(info.number(0, it->second));
    const int column = static_cast<int>(info.number(1, it->second));
    const float sign = column < 0 ? -1.0f : 1.0f;
    const mat4::Matrix& data = *f.find(matrix == 1 ? "data_1" : "data_2");
    return sign * static_cast<float>(data.number(std::abs(column) - 1, 0));
  }
};

using ModelDescriptionAtLibrary = FmiTestInScratch;

// Every reference of the description is one the library answers after initialisation; what it
// answers, with an alias's sign, is what the result file records under the variable's name,
// and a start value of the description is the library's own.
TEST_F(ModelDescriptionAtLibrary, EveryReferenceResolvesToTheNamedValue) {
  const Description& d = description();
  ASSERT_TRUE(d.ok);
  create_initialized();  // the result file holds the first row from here on
  const RecordedValues recorded("dsres.mat");
  ASSERT_TRUE(recorded.f.ok) << recorded.f.error;
  int resolved = 0;
  for (const XmlVariable& v : d.variables) {
    SCOPED_TRACE(v.name);
    const fmiValueReference vr[] = {v.vr};
    double value = 0.0;
    if (v.type == "Real") {
      ASSERT_EQ(lib.GetReal(c(), vr, 1, &value), fmiOK);
    } else if (v.type == "Integer") {
      fmiInteger i = 0;
      ASSERT_EQ(lib.GetInteger(c(), vr, 1, &i), fmiOK);
      value = i;
    } else {
      fmiBoolean b = 0;
      ASSERT_EQ(lib.GetBoolean(c(), vr, 1, &b), fmiOK);
      value = b;
    }
    const double named = sign_of(v) * value;
    const std::optional<float> inFile = recorded.value(v.name);
    ASSERT_TRUE(inFile) << "not in the result file";
    EXPECT_EQ(static_cast<float>(named), *inFile);
    if (v.start) {
      EXPECT_EQ(std::strtod(v.start->c_str(), nullptr), named) << "start value";
    }
    ++resolved;
  }
  EXPECT_EQ(resolved, 2324);
}

}  // namespace
