#include "host/assignments.h"

#include <charconv>
#include <climits>
#include <optional>

#include "host/errors.h"
#include "host/numbers.h"

namespace {

const char* type_name(VariableType t) {
  switch (t) {
    case VariableType::Real: return "Real";
    case VariableType::Integer: return "Integer";
    case VariableType::Boolean: return "Boolean";
    case VariableType::String: return "String";
    case VariableType::Enumeration: return "Enumeration";
  }
  return "?";
}

// The variable an assignment sets: the named one, or the one it is an alias of.
const ScalarVariable& settable_variable(const ModelDescription& description,
                                        const Assignment& a) {
  const ScalarVariable* v = description.find(a.name);
  if (v == nullptr) throw UsageError("unknown variable " + a.name);
  const ScalarVariable* base =
      v->aliasSign == 0 ? v : description.base_of(v->type, v->valueReference);
  if (base == nullptr) throw HostError(a.name + " is an alias of a variable the model lacks");
  if (base->variability == "constant") throw UsageError(a.name + " is a constant");
  if (!base->start)
    throw UsageError(a.name +
                     " has no start value: it is computed by the model and cannot be set");
  return *v;
}

// A Real value; a text that is none says why (a number no double holds, or no Real value).
double real_value(const Assignment& a, const std::string& noValue) {
  if (const std::optional<double> value = parse_real(a.value)) return *value;
  throw UsageError("--set " + a.name + ": \"" + a.value + "\" is " +
                   no_real_reason(a.value, noValue));
}

std::optional<fmiInteger> parse_integer(const std::string& text) {
  int32_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto result = std::from_chars(first, last, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != last) return std::nullopt;
  return value;
}

std::optional<bool> parse_boolean(const std::string& text) {
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

}  // namespace

ResolvedAssignment resolve_assignment(const ModelDescription& description, const Assignment& a) {
  const ScalarVariable& v = settable_variable(description, a);
  ResolvedAssignment r;
  r.variable = &v;
  r.type = v.type;
  r.valueReference = v.valueReference;
  const bool negated = v.aliasSign < 0;
  const UsageError badValue("--set " + a.name + ": \"" + a.value + "\" is no " +
                            type_name(v.type) + " value");
  switch (v.type) {
    case VariableType::Real: {
      const double value = real_value(a, "no Real value");
      r.real = negated ? -value : value;
      return r;
    }
    case VariableType::Integer: {
      const std::optional<fmiInteger> value = parse_integer(a.value);
      if (!value || (negated && *value == INT32_MIN)) throw badValue;
      r.integer = negated ? -*value : *value;
      return r;
    }
    case VariableType::Boolean: {
      const std::optional<bool> value = parse_boolean(a.value);
      if (!value) throw badValue;
      r.boolean = (negated ? !*value : *value) ? fmiTrue : fmiFalse;
      return r;
    }
    default:
      throw UsageError("--set " + a.name + ": " + type_name(v.type) + " variables cannot be set");
  }
}

std::vector<ResolvedAssignment> resolve_assignments(const ModelDescription& description,
                                                    const std::vector<Assignment>& assignments) {
  std::vector<ResolvedAssignment> resolved;
  for (const Assignment& a : assignments) resolved.push_back(resolve_assignment(description, a));
  return resolved;
}
