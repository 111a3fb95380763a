// The --set assignments, resolved against the model description before the library is loaded.
#pragma once

#include <string>
#include <vector>

#include "host/model_description.h"

// One --set name=value, as given.
struct Assignment {
  std::string name;
  std::string value;
};

// An assignment resolved: the reference to set and the value, the alias's sign already applied.
struct ResolvedAssignment {
  const ScalarVariable* variable = nullptr;  // the one that was named
  VariableType type = VariableType::Real;
  fmiValueReference valueReference = 0;
  double real = 0.0;
  fmiInteger integer = 0;
  fmiBoolean boolean = fmiFalse;
};

// Throws UsageError for an unknown name, a variable that cannot be set, or a value that does
// not parse as its type; HostError for an alias whose variable the model lacks.
ResolvedAssignment resolve_assignment(const ModelDescription& description, const Assignment& a);
std::vector<ResolvedAssignment> resolve_assignments(const ModelDescription& description,
                                                    const std::vector<Assignment>& assignments);
