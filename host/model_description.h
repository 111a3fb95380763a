// The model description of an FMI 1.0 Model Exchange FMU, as far as the host needs it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fmi/fmi_types.h"

enum class VariableType { Real, Integer, Boolean, String, Enumeration };

struct ScalarVariable {
  std::string name;
  fmiValueReference valueReference = 0;
  VariableType type = VariableType::Real;
  std::string variability;  // "constant", "parameter", "discrete", "continuous"
  std::string causality;    // "input", "output", "internal", "none"
  int aliasSign = 0;        // 0 no alias, +1 alias, -1 negatedAlias
  std::optional<std::string> start;
};

struct ModelDescription {
  std::string modelName;
  std::string modelIdentifier;
  std::string guid;
  uint32_t numberOfContinuousStates = 0;
  uint32_t numberOfEventIndicators = 0;
  std::optional<double> defaultStart;
  std::optional<double> defaultStop;
  std::optional<double> defaultTolerance;
  std::vector<ScalarVariable> variables;
  std::map<std::string, size_t> byName;

  const ScalarVariable* find(const std::string& name) const;
  // The variable that holds the value behind a reference: the one of that type and reference
  // that is no alias; null when there is none.
  const ScalarVariable* base_of(VariableType type, fmiValueReference vr) const;
};

// Reads and checks a model description (fmiVersion 1.0, a model identifier that is a C
// identifier, the required attributes, unique names). Throws HostError.
ModelDescription parse_model_description(const std::string& xml);

bool is_c_identifier(const std::string& s);
