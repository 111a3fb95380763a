// Writes the FMU's modelDescription.xml from the library's own variable table, so the
// description and the library can never disagree: the GUID, the model sizes, and one
// ScalarVariable per table record with the value reference the library decodes.
//
// Usage: tavelo-model-description OUTPUT.xml
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fmi/model_instance.h"
#include "model/body_chain.h"
#include "model/variable_table.h"

namespace {

enum class ValueType { Real, Integer, Boolean };

// The discrete friction variables: every other variable of the model is Real.
struct DiscreteVariable {
  const char* name;
  ValueType type;
};
constexpr DiscreteVariable discreteVariables[] = {
    {"armBearingFriction.mode", ValueType::Integer},
    {"pendulumBearingFriction.mode", ValueType::Integer},
    {"armBearingFriction.startForward", ValueType::Boolean},
    {"armBearingFriction.startBackward", ValueType::Boolean},
    {"armBearingFriction.locked", ValueType::Boolean},
    {"pendulumBearingFriction.startForward", ValueType::Boolean},
    {"pendulumBearingFriction.startBackward", ValueType::Boolean},
    {"pendulumBearingFriction.locked", ValueType::Boolean},
};

// Demand levels of the value references: what the library must have evaluated before it
// answers a get request.
constexpr uint32_t LevelTimeInvariant = 0;
constexpr uint32_t LevelDerivatives = 2;
constexpr uint32_t LevelAuxiliaries = 3;

constexpr uint32_t value_reference(uint32_t level, int kind, int index) {
  return level << 28 | static_cast<uint32_t>(kind) << 24 | static_cast<uint32_t>(index);
}

enum class Variability { Constant, Parameter, Discrete, Continuous };

const char* variability_text(Variability v) {
  switch (v) {
    case Variability::Constant: return "constant";
    case Variability::Parameter: return "parameter";
    case Variability::Discrete: return "discrete";
    case Variability::Continuous: return "continuous";
  }
  return "continuous";
}

const char* type_text(ValueType t) {
  switch (t) {
    case ValueType::Real: return "Real";
    case ValueType::Integer: return "Integer";
    case ValueType::Boolean: return "Boolean";
  }
  return "Real";
}

// What the description says of one variable with storage (kinds 1-6); an alias takes all of
// it from its target.
struct Variable {
  const VariableRecord* record = nullptr;
  uint32_t valueReference = 0;
  ValueType type = ValueType::Real;
  Variability variability = Variability::Continuous;
  bool hasStart = false;
  double start = 0.0;
};

// The auxiliaries the constant section stores and the values it stores there: the section's
// own blocks run on an array marked beforehand, and every position they wrote is a constant.
struct ConstantSection {
  std::vector<bool> written;
  std::vector<double> values;
};

ConstantSection constant_section() {
  ConstantSection section;
  section.values.assign(ModelAuxiliaryCount, std::nan(""));
  double* w = section.values.data();
  constant_blocks(w);
  section.written.resize(ModelAuxiliaryCount);
  for (int i = 0; i < ModelAuxiliaryCount; ++i) section.written[i] = !std::isnan(w[i]);
  return section;
}

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "tavelo-model-description: %s\n", message.c_str());
  std::exit(1);
}

// Every variable with storage, by kind and position in its kind's value array.
struct VariableIndex {
  std::vector<Variable> byKind[7];
};

VariableIndex describe_variables(const ConstantSection& constants) {
  VariableIndex index;
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (kind < KindParameter || kind > KindAuxiliary) continue;
    const int position = static_cast<int>(index.byKind[kind].size());
    Variable v;
    v.record = &record;
    switch (kind) {
      case KindParameter:
        v.valueReference = value_reference(LevelTimeInvariant, kind, position);
        v.variability = Variability::Parameter;
        v.hasStart = true;
        v.start = record.start;
        break;
      case KindState:
        v.valueReference = value_reference(LevelTimeInvariant, kind, position);
        v.hasStart = true;
        v.start = record.start;
        break;
      case KindDerivative:
        v.valueReference = value_reference(LevelDerivatives, kind, position);
        break;
      default:  // outputs, inputs, auxiliaries
        if (is_time_invariant(record)) {
          v.valueReference = value_reference(LevelTimeInvariant, kind, position);
          const bool constant = kind == KindAuxiliary && constants.written[position];
          v.variability = constant ? Variability::Constant : Variability::Parameter;
          v.hasStart = constant;
          if (constant) v.start = constants.values[position];
        } else {
          v.valueReference = value_reference(LevelAuxiliaries, kind, position);
        }
        break;
    }
    index.byKind[kind].push_back(v);
  }
  for (const DiscreteVariable& d : discreteVariables) {
    bool found = false;
    for (Variable& v : index.byKind[KindAuxiliary]) {
      if (std::strcmp(v.record->name, d.name) != 0) continue;
      if (v.variability != Variability::Continuous)
        fail(std::string(d.name) + " is no time-varying variable");
      v.type = d.type;
      v.variability = Variability::Discrete;
      found = true;
    }
    if (!found) fail(std::string("no variable ") + d.name);
  }
  return index;
}

void append_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c; break;
    }
  }
}

// The shortest text that reads back as the same double; "0" for either zero.
std::string real_text(double value) {
  if (value == 0.0) return "0";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string value_text(ValueType type, double value) {
  switch (type) {
    case ValueType::Real:
      return real_text(value);
    case ValueType::Integer:
      if (value != std::trunc(value) || std::fabs(value) > 2147483647.0)
        fail("an Integer value that is no int: " + real_text(value));
      return std::to_string(static_cast<int32_t>(value));
    case ValueType::Boolean:
      return value != 0.0 ? "true" : "false";
  }
  return real_text(value);
}

void append_attribute(std::string& out, const char* name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  append_escaped(out, value);
  out += '"';
}

// One ScalarVariable; for an alias, target is the variable it names and sign its sign.
void append_variable(std::string& out, const VariableRecord& record, const Variable& target,
                     double sign) {
  const bool alias = &record != target.record;
  out += "    <ScalarVariable";
  append_attribute(out, "name", record.name);
  append_attribute(out, "valueReference", std::to_string(target.valueReference));
  if (record.description[0] != '\0') append_attribute(out, "description", record.description);
  append_attribute(out, "variability", variability_text(target.variability));
  append_attribute(out, "causality", "internal");
  if (alias) append_attribute(out, "alias", sign < 0.0 ? "negatedAlias" : "alias");
  out += ">\n      <";
  out += type_text(target.type);
  // An alias carries no start of its own, except that a constant must have one: then it is
  // exactly the target's, with the alias's sign.
  if (target.hasStart && (!alias || target.variability == Variability::Constant)) {
    const double start = target.type == ValueType::Boolean || !alias ? target.start
                                                                     : sign * target.start;
    append_attribute(out, "start", value_text(target.type, start));
  }
  // Bounds and nominal as the record stores them; 0 and 0 means no bounds, 0 no nominal.
  if (target.type != ValueType::Boolean && (record.min != 0.0 || record.max != 0.0)) {
    append_attribute(out, "min", value_text(target.type, record.min));
    append_attribute(out, "max", value_text(target.type, record.max));
  }
  if (target.type == ValueType::Real && record.nominal != 0.0)
    append_attribute(out, "nominal", real_text(record.nominal));
  out += "/>\n    </ScalarVariable>\n";
}

std::string model_description() {
  const ConstantSection constants = constant_section();
  const VariableIndex index = describe_variables(constants);
  int nx = 0, nx2 = 0, nu = 0, ny = 0, nw = 0, np = 0, nrel = 0, n8 = 0, n9 = 0;
  get_model_sizes(&nx, &nx2, &nu, &ny, &nw, &np, &nrel, &n8, &n9);

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fmiModelDescription";
  append_attribute(out, "fmiVersion", "1.0");
  append_attribute(out, "modelName", "Tavelo");
  append_attribute(out, "modelIdentifier", "Tavelo");
  append_attribute(out, "guid", modelGUID);
  append_attribute(out, "description",
                   "Rotary inverted pendulum with stick/slip bearing friction");
  append_attribute(out, "variableNamingConvention", "flat");
  append_attribute(out, "numberOfContinuousStates", std::to_string(nx));
  append_attribute(out, "numberOfEventIndicators", std::to_string(2 * nrel));
  // The tolerance tavelo-sim uses by default: other hosts that read it simulate as it does.
  out += ">\n  <DefaultExperiment startTime=\"0\" stopTime=\"10\" tolerance=\"1e-6\"/>\n"
         "  <ModelVariables>\n";
  int seen[7] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (kind >= KindParameter && kind <= KindAuxiliary) {
      append_variable(out, record, index.byKind[kind][seen[kind]++], 1.0);
    } else if (kind == KindAlias) {
      const int targetKind = alias_target_kind(record);
      if (targetKind < KindParameter || targetKind > KindAuxiliary || record.index < 0 ||
          record.index >= static_cast<int>(index.byKind[targetKind].size()))
        fail(std::string("alias without target: ") + record.name);
      append_variable(out, record, index.byKind[targetKind][record.index], alias_sign(record));
    }
  }
  out += "  </ModelVariables>\n</fmiModelDescription>\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavelo-model-description OUTPUT.xml\n");
    return 2;
  }
  const std::string text = model_description();
  // Written whole or not at all: a partial file must not look like a description.
  const std::string temporary = std::string(argv[1]) + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) fail("cannot write " + temporary + ": " + std::strerror(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) fail("cannot write " + temporary);
  if (std::rename(temporary.c_str(), argv[1]) != 0)
    fail("cannot rename " + temporary + " to " + argv[1] + ": " + std::strerror(errno));
  return 0;
}
