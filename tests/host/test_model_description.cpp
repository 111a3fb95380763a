// The model description as tavelo-sim reads it: the model, its default experiment and its
// variables from small documents, and the one message for each document it refuses.
#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/errors.h"
#include "host/model_description.h"

namespace {

// The message the document is refused with; empty when it is read.
std::string refusal(const std::string& xml) {
  try {
    parse_model_description(xml);
  } catch (const HostError& e) {
    return e.what();
  }
  return {};
}

const char* const OneVariable =
    R"(<ModelVariables><ScalarVariable name="h" valueReference="0"><Real/></ScalarVariable>)"
    R"(</ModelVariables>)";

// A description of a good model with one root attribute changed (a null value drops it).
struct Attribute {
  const char* name;
  const char* value;
};

std::string description(std::initializer_list<Attribute> changed = {},
                        const std::string& inside = OneVariable) {
  std::vector<std::pair<std::string, const char*>> root = {
      {"fmiVersion", "1.0"},
      {"modelName", "Tank model"},
      {"modelIdentifier", "Tank_1"},
      {"guid", "{8c4e810f-3df3-4a00-8276-176fa3c9f000}"},
      {"numberOfContinuousStates", "2"},
      {"numberOfEventIndicators", "3"},
  };
  for (const Attribute& a : changed) {
    bool found = false;
    for (auto& [name, value] : root)
      if (name == a.name) value = a.value, found = true;
    if (!found) root.emplace_back(a.name, a.value);
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fmiModelDescription";
  for (const auto& [name, value] : root)
    if (value) xml += " " + name + "=\"" + value + "\"";
  return xml + ">\n" + inside + "\n</fmiModelDescription>\n";
}

std::string variables(const std::string& scalarVariables) {
  return "<ModelVariables>" + scalarVariables + "</ModelVariables>";
}

struct Expected {
  const char* name;
  fmiValueReference valueReference;
  VariableType type;
  const char* variability;
  const char* causality;
  int aliasSign;
  const char* start;  // null: none
};

TEST(ModelDescription, ReadsTheModelItsExperimentAndItsVariables) {
  // The alias "level" comes before the variable it stands for; "n" shares its reference with
  // "h" in another type; "label" has a start that is empty, which is still a start.
  const ModelDescription d = parse_model_description(description(
      {}, R"xml(<DefaultExperiment startTime="0.5" stopTime="10" tolerance="1e-6"/>
<ModelVariables>
  <ScalarVariable name="level" valueReference="0" alias="alias"><Real/></ScalarVariable>
  <ScalarVariable name="h" valueReference="0" variability="continuous" causality="output">
    <Real start="1.5"/></ScalarVariable>
  <ScalarVariable name="der(h)" valueReference="1"><Real/></ScalarVariable>
  <ScalarVariable name="depth" valueReference="0" causality="none" alias="negatedAlias">
    <Real/></ScalarVariable>
  <ScalarVariable name="n" valueReference="0" variability="parameter" causality="input"
    alias="noAlias"><Integer start="3"/></ScalarVariable>
  <ScalarVariable name="closed" valueReference="0" variability="discrete"
    alias="negatedAlias"><Boolean/></ScalarVariable>
  <ScalarVariable name="label" valueReference="0" variability="constant">
    <String start=""/></ScalarVariable>
  <ScalarVariable name="mode" valueReference="1" variability="parameter">
    <Enumeration declaredType="Mode" start="2"/></ScalarVariable>
</ModelVariables>)xml"));
  EXPECT_EQ(d.modelName, "Tank model");
  EXPECT_EQ(d.modelIdentifier, "Tank_1");
  EXPECT_EQ(d.guid, "{8c4e810f-3df3-4a00-8276-176fa3c9f000}");
  EXPECT_EQ(d.numberOfContinuousStates, 2u);
  EXPECT_EQ(d.numberOfEventIndicators, 3u);
  EXPECT_EQ(d.defaultStart, 0.5);
  EXPECT_EQ(d.defaultStop, 10.0);
  EXPECT_EQ(d.defaultTolerance, 1e-6);

  const Expected expected[] = {
      {"level", 0, VariableType::Real, "continuous", "internal", 1, nullptr},
      {"h", 0, VariableType::Real, "continuous", "output", 0, "1.5"},
      {"der(h)", 1, VariableType::Real, "continuous", "internal", 0, nullptr},
      {"depth", 0, VariableType::Real, "continuous", "none", -1, nullptr},
      {"n", 0, VariableType::Integer, "parameter", "input", 0, "3"},
      {"closed", 0, VariableType::Boolean, "discrete", "internal", -1, nullptr},
      {"label", 0, VariableType::String, "constant", "internal", 0, ""},
      {"mode", 1, VariableType::Enumeration, "parameter", "internal", 0, "2"},
  };
  ASSERT_EQ(d.variables.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const ScalarVariable& v = d.variables[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(v.name, e.name);
    EXPECT_EQ(v.valueReference, e.valueReference);
    EXPECT_EQ(v.type, e.type);
    EXPECT_EQ(v.variability, e.variability);
    EXPECT_EQ(v.causality, e.causality);
    EXPECT_EQ(v.aliasSign, e.aliasSign);
    EXPECT_EQ(v.start, e.start ? std::optional<std::string>(e.start) : std::nullopt);
    EXPECT_EQ(d.find(e.name), &v);
  }
  EXPECT_EQ(d.find("H"), nullptr);
  EXPECT_EQ(d.find("der"), nullptr);

  EXPECT_EQ(d.base_of(VariableType::Real, 0), d.find("h"));
  EXPECT_EQ(d.base_of(VariableType::Real, 1), d.find("der(h)"));
  EXPECT_EQ(d.base_of(VariableType::Integer, 0), d.find("n"));
  EXPECT_EQ(d.base_of(VariableType::Enumeration, 1), d.find("mode"));
  EXPECT_EQ(d.base_of(VariableType::Boolean, 0), nullptr);  // only a negated alias has it
  EXPECT_EQ(d.base_of(VariableType::Real, 2), nullptr);
}

TEST(ModelDescription, EachAttributeOfTheDefaultExperimentIsOptional) {
  struct Case {
    const char* experiment;
    std::optional<double> start, stop, tolerance;
  };
  const Case cases[] = {
      {"", std::nullopt, std::nullopt, std::nullopt},
      {"<DefaultExperiment/>", std::nullopt, std::nullopt, std::nullopt},
      {R"(<DefaultExperiment stopTime="2.5"/>)", std::nullopt, 2.5, std::nullopt},
      {R"(<DefaultExperiment startTime="-1" tolerance="1e-4"/>)", -1.0, std::nullopt, 1e-4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.experiment);
    const ModelDescription d =
        parse_model_description(description({}, std::string(c.experiment) + OneVariable));
    EXPECT_EQ(d.defaultStart, c.start);
    EXPECT_EQ(d.defaultStop, c.stop);
    EXPECT_EQ(d.defaultTolerance, c.tolerance);
  }
}

struct Refused {
  const char* what;
  std::string xml;
  const char* message;
};

TEST(ModelDescription, RefusesADocumentThatIsNoFmi1ModelDescription) {
  const Refused cases[] = {
      {"an empty file", "",
       "modelDescription.xml does not parse: No document element found at byte 0"},
      // Byte 32 is the first of the value that has no quotes.
      {"a value without quotes", "<fmiModelDescription fmiVersion=1.0/>",
       "modelDescription.xml does not parse: Error parsing element attribute at byte 32"},
      {"no end tag", "<fmiModelDescription fmiVersion=\"1.0\">",
       "modelDescription.xml does not parse: Start-end tags mismatch at byte 37"},
      {"another root", "<modelDescription fmiVersion=\"1.0\"/>",
       "modelDescription.xml has no fmiModelDescription element"},
      {"the model below the root", "<fmu>" + description() + "</fmu>",
       "modelDescription.xml has no fmiModelDescription element"},
      {"version 2.0", description({{"fmiVersion", "2.0"}}),
       "modelDescription.xml: fmiVersion \"2.0\" is not 1.0"},
      {"version 1", description({{"fmiVersion", "1"}}),
       "modelDescription.xml: fmiVersion \"1\" is not 1.0"},
      {"no version", description({{"fmiVersion", nullptr}}),
       "modelDescription.xml: fmiVersion \"\" is not 1.0"},
      {"no guid", description({{"guid", nullptr}}), "modelDescription.xml has no guid"},
      {"an empty guid", description({{"guid", ""}}), "modelDescription.xml has no guid"},
  };
  for (const Refused& c : cases) EXPECT_EQ(refusal(c.xml), c.message) << c.what;
}

TEST(ModelDescription, TheModelIdentifierIsACIdentifier) {
  const std::pair<const char*, bool> cases[] = {
      {"T", true},      {"_Tank", true},   {"Tank_2", true}, {"tank9", true},
      {"", false},      {"4Tank", false},  {"Tank-2", false}, {"Tank 2", false},
      {"Tank.2", false}, {"T\xc3\xa4nk", false},
  };
  for (const auto& [identifier, accepted] : cases) {
    SCOPED_TRACE(identifier);
    const std::string xml = description({{"modelIdentifier", identifier}});
    const std::string message = refusal(xml);
    if (accepted) {
      EXPECT_EQ(message, "");
      if (message.empty()) {
        EXPECT_EQ(parse_model_description(xml).modelIdentifier, identifier);
      }
    } else {
      EXPECT_EQ(message, std::string("modelDescription.xml: the model identifier \"") +
                             identifier + "\" is no C identifier");
    }
  }
  EXPECT_EQ(refusal(description({{"modelIdentifier", nullptr}})),
            "modelDescription.xml: the model identifier \"\" is no C identifier");
}

TEST(ModelDescription, CountsAreUnsignedAndAtMostOneHundredThousand) {
  struct Case {
    const char* attribute;
    const char* value;    // null: the attribute is missing
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {"numberOfContinuousStates", nullptr,
       "modelDescription.xml: the model has no numberOfContinuousStates"},
      {"numberOfEventIndicators", nullptr,
       "modelDescription.xml: the model has no numberOfEventIndicators"},
      {"numberOfContinuousStates", "",
       "modelDescription.xml: the model: numberOfContinuousStates \"\" is no unsigned integer"},
      {"numberOfContinuousStates", "-1",
       "modelDescription.xml: the model: numberOfContinuousStates \"-1\" is no unsigned integer"},
      {"numberOfContinuousStates", "4x",
       "modelDescription.xml: the model: numberOfContinuousStates \"4x\" is no unsigned integer"},
      {"numberOfContinuousStates", "4.0",
       "modelDescription.xml: the model: numberOfContinuousStates \"4.0\" is no unsigned integer"},
      {"numberOfEventIndicators", "4294967296",
       "modelDescription.xml: the model: numberOfEventIndicators \"4294967296\" is no unsigned "
       "integer"},
      {"numberOfContinuousStates", "4294967295",
       "modelDescription.xml: too many states or event indicators"},
      {"numberOfContinuousStates", "100001",
       "modelDescription.xml: too many states or event indicators"},
      {"numberOfEventIndicators", "100001",
       "modelDescription.xml: too many states or event indicators"},
      {"numberOfContinuousStates", "100000", ""},
      {"numberOfEventIndicators", "100000", ""},
      {"numberOfContinuousStates", "0", ""},
      {"numberOfEventIndicators", "0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.attribute) + " " + (c.value ? c.value : "missing"));
    const std::string xml = description({{c.attribute, c.value}});
    const std::string message = refusal(xml);
    EXPECT_EQ(message, c.message);
    if (message.empty() && c.message[0] == '\0') {
      const ModelDescription d = parse_model_description(xml);
      const bool states = std::string(c.attribute) == "numberOfContinuousStates";
      EXPECT_EQ(states ? d.numberOfContinuousStates : d.numberOfEventIndicators,
                std::stoul(c.value));
    }
  }
}

TEST(ModelDescription, TheDefaultExperimentHoldsFiniteNumbers) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(stopTime="ten")", "stopTime \"ten\" is no number"},
      {R"(stopTime="")", "stopTime \"\" is no number"},
      {R"(stopTime="1e400")", "stopTime \"1e400\" is out of the range of a double"},
      {R"(stopTime="inf")", "stopTime \"inf\" is no number"},
      {R"(stopTime="nan")", "stopTime \"nan\" is no number"},
      {R"(stopTime="10 s")", "stopTime \"10 s\" is no number"},
      {R"(startTime="-1e400")", "startTime \"-1e400\" is out of the range of a double"},
      {R"(stopTime="10" tolerance="1e-400")",
       "tolerance \"1e-400\" is too close to 0 for a double"},
      {R"(stopTime="10" tolerance="1e-4x")", "tolerance \"1e-4x\" is no number"},
  };
  for (const auto& [attributes, refused] : cases) {
    const std::string xml =
        description({}, "<DefaultExperiment " + std::string(attributes) + "/>" + OneVariable);
    EXPECT_EQ(refusal(xml), "modelDescription.xml: DefaultExperiment: " + std::string(refused))
        << attributes;
  }
}

TEST(ModelDescription, RefusesAVariableItCannotUse) {
  const std::string h = R"(<ScalarVariable name="h" valueReference="0"><Real/></ScalarVariable>)";
  const Refused cases[] = {
      {"no name", variables(h + R"(<ScalarVariable valueReference="1"><Real/></ScalarVariable>)"),
       "modelDescription.xml: a ScalarVariable without a name"},
      {"an empty name",
       variables(R"(<ScalarVariable name="" valueReference="1"><Real/></ScalarVariable>)"),
       "modelDescription.xml: a ScalarVariable without a name"},
      {"one name twice, in two types",
       variables(h + R"(<ScalarVariable name="x" valueReference="0"><Integer/></ScalarVariable>)" +
                 R"(<ScalarVariable name="h" valueReference="1"><Integer/></ScalarVariable>)"),
       "modelDescription.xml: two variables are named h"},
      {"no value reference", variables(R"(<ScalarVariable name="h"><Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h has no valueReference"},
      {"a negative value reference",
       variables(R"(<ScalarVariable name="h" valueReference="-1"><Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: valueReference \"-1\" is no unsigned integer"},
      {"another variability",
       variables(R"(<ScalarVariable name="h" valueReference="0" variability="fixed">)"
                 R"(<Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: variability \"fixed\" is not allowed"},
      {"a variability in capitals",
       variables(R"(<ScalarVariable name="h" valueReference="0" variability="Continuous">)"
                 R"(<Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: variability \"Continuous\" is not allowed"},
      {"an empty causality",
       variables(R"(<ScalarVariable name="h" valueReference="0" causality="">)"
                 R"(<Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: causality \"\" is not allowed"},
      {"a causality of FMI 2.0",
       variables(R"(<ScalarVariable name="h" valueReference="0" causality="parameter">)"
                 R"(<Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: causality \"parameter\" is not allowed"},
      {"another alias",
       variables(R"(<ScalarVariable name="h" valueReference="0" alias="negated">)"
                 R"(<Real/></ScalarVariable>)"),
       "modelDescription.xml: variable h: alias \"negated\" is not allowed"},
      {"no type", variables(R"(<ScalarVariable name="h" valueReference="0"/>)"),
       "modelDescription.xml: variable h has no type"},
      {"a type unknown",
       variables(R"(<ScalarVariable name="h" valueReference="0"><Float/></ScalarVariable>)"),
       "modelDescription.xml: variable h has no type"},
  };
  for (const Refused& c : cases) EXPECT_EQ(refusal(description({}, c.xml)), c.message) << c.what;
}

}  // namespace
