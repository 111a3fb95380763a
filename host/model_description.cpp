#include "host/model_description.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <pugixml.hpp>

#include "host/errors.h"
#include "host/numbers.h"

namespace {

std::optional<uint32_t> parse_unsigned(const char* text) {
  uint32_t value = 0;
  const char* last = text + std::strlen(text);
  const auto result = std::from_chars(text, last, value);
  if (result.ec != std::errc() || result.ptr != last || text == last) return std::nullopt;
  return value;
}

uint32_t required_unsigned(const pugi::xml_node& node, const char* attribute,
                           const std::string& where) {
  const pugi::xml_attribute a = node.attribute(attribute);
  if (!a) throw HostError("modelDescription.xml: " + where + " has no " + attribute);
  const std::optional<uint32_t> value = parse_unsigned(a.value());
  if (!value)
    throw HostError("modelDescription.xml: " + where + ": " + attribute + " \"" + a.value() +
                    "\" is no unsigned integer");
  return *value;
}

std::optional<double> optional_real(const pugi::xml_node& node, const char* attribute) {
  const pugi::xml_attribute a = node.attribute(attribute);
  if (!a) return std::nullopt;
  const std::optional<double> value = parse_real(a.value());
  if (!value)
    throw HostError(std::string("modelDescription.xml: ") + node.name() + ": " + attribute +
                    " \"" + a.value() + "\" is " + no_real_reason(a.value(), "no number"));
  return value;
}

std::string one_of(const pugi::xml_node& node, const char* attribute, const char* fallback,
                   std::initializer_list<const char*> allowed, const std::string& where) {
  const pugi::xml_attribute a = node.attribute(attribute);
  const std::string value = a ? a.value() : fallback;
  for (const char* v : allowed)
    if (value == v) return value;
  throw HostError("modelDescription.xml: " + where + ": " + attribute + " \"" + value +
                  "\" is not allowed");
}

// The attributes of the fmiModelDescription element and its default experiment.
ModelDescription parse_model(const pugi::xml_node& root) {
  const std::string version = root.attribute("fmiVersion").value();
  if (version != "1.0")
    throw HostError("modelDescription.xml: fmiVersion \"" + version + "\" is not 1.0");
  ModelDescription d;
  d.modelName = root.attribute("modelName").value();
  d.modelIdentifier = root.attribute("modelIdentifier").value();
  d.guid = root.attribute("guid").value();
  if (!is_c_identifier(d.modelIdentifier))
    throw HostError("modelDescription.xml: the model identifier \"" + d.modelIdentifier +
                    "\" is no C identifier");
  if (d.guid.empty()) throw HostError("modelDescription.xml has no guid");
  d.numberOfContinuousStates = required_unsigned(root, "numberOfContinuousStates", "the model");
  d.numberOfEventIndicators = required_unsigned(root, "numberOfEventIndicators", "the model");
  // Bounds far above any model this host can integrate; they keep the arrays sane.
  if (d.numberOfContinuousStates > 100000 || d.numberOfEventIndicators > 100000)
    throw HostError("modelDescription.xml: too many states or event indicators");
  if (const pugi::xml_node experiment = root.child("DefaultExperiment")) {
    d.defaultStart = optional_real(experiment, "startTime");
    d.defaultStop = optional_real(experiment, "stopTime");
    d.defaultTolerance = optional_real(experiment, "tolerance");
  }
  return d;
}

ScalarVariable parse_variable(const pugi::xml_node& node) {
  static const std::pair<const char*, VariableType> types[] = {
      {"Real", VariableType::Real},       {"Integer", VariableType::Integer},
      {"Boolean", VariableType::Boolean}, {"String", VariableType::String},
      {"Enumeration", VariableType::Enumeration}};
  ScalarVariable v;
  v.name = node.attribute("name").value();
  if (v.name.empty()) throw HostError("modelDescription.xml: a ScalarVariable without a name");
  const std::string where = "variable " + v.name;
  v.valueReference = required_unsigned(node, "valueReference", where);
  v.variability = one_of(node, "variability", "continuous",
                         {"constant", "parameter", "discrete", "continuous"}, where);
  v.causality =
      one_of(node, "causality", "internal", {"input", "output", "internal", "none"}, where);
  const std::string alias =
      one_of(node, "alias", "noAlias", {"noAlias", "alias", "negatedAlias"}, where);
  v.aliasSign = alias == "noAlias" ? 0 : alias == "alias" ? 1 : -1;
  for (const auto& [element, type] : types) {
    if (const pugi::xml_node t = node.child(element)) {
      v.type = type;
      if (const pugi::xml_attribute start = t.attribute("start")) v.start = start.value();
      return v;
    }
  }
  throw HostError("modelDescription.xml: " + where + " has no type");
}

}  // namespace

bool is_c_identifier(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

const ScalarVariable* ModelDescription::find(const std::string& name) const {
  const auto it = byName.find(name);
  return it == byName.end() ? nullptr : &variables[it->second];
}

const ScalarVariable* ModelDescription::base_of(VariableType type, fmiValueReference vr) const {
  for (const ScalarVariable& v : variables)
    if (v.type == type && v.valueReference == vr && v.aliasSign == 0) return &v;
  return nullptr;
}

ModelDescription parse_model_description(const std::string& xml) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed)
    throw HostError(std::string("modelDescription.xml does not parse: ") + parsed.description() +
                    " at byte " + std::to_string(parsed.offset));
  const pugi::xml_node root = document.child("fmiModelDescription");
  if (!root) throw HostError("modelDescription.xml has no fmiModelDescription element");
  ModelDescription d = parse_model(root);
  for (const pugi::xml_node node : root.child("ModelVariables").children("ScalarVariable")) {
    ScalarVariable v = parse_variable(node);
    if (!d.byName.emplace(v.name, d.variables.size()).second)
      throw HostError("modelDescription.xml: two variables are named " + v.name);
    d.variables.push_back(std::move(v));
  }
  return d;
}
