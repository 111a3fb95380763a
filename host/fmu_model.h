// An FMI 1.0 Model Exchange FMU as the host sees it: its model description, read from the
// archive with pugixml, and its binary for this platform, loaded with dlopen.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fmi/fmi_types.h"

// A failure that ends the run with one message on stderr.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that asks for what the model does not allow (times that do not fit its
// default experiment, a --set it has no place for): a bad command line like one that does not
// parse.
class UsageError : public HostError {
 public:
  using HostError::HostError;
};

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
// identifier, the required attributes, unique names).
ModelDescription parse_model_description(const std::string& xml);

// The 24 functions of the binary, resolved by the model identifier's prefix.
struct FmiFunctions {
#define TAVELO_SIM_POINTER(name) fmi##name##TYPE* name = nullptr;
  TAVELO_FMI_FUNCTIONS(TAVELO_SIM_POINTER)
#undef TAVELO_SIM_POINTER
};

// An unpacked and loaded FMU. The library stays loaded as long as the object lives.
class Fmu {
 public:
  // Checks that run once the model description is read, before the binary is read and loaded.
  using BeforeLoad = std::function<void(const ModelDescription&)>;

  // Reads the archive: modelDescription.xml and binaries/linux64/<modelIdentifier>.so, which
  // is checked (every member whole, its checksum right; an ELF shared object of this machine
  // that is not cut short), unpacked into a scratch folder of its own, loaded and checked (all
  // 24 functions, version "1.0", platform "standard32"). The scratch folder is gone again when
  // the constructor returns or throws; the ones left by earlier runs whose process is gone are
  // removed as well.
  explicit Fmu(const std::string& path, const BeforeLoad& beforeLoad = {});
  ~Fmu();
  Fmu(const Fmu&) = delete;
  Fmu& operator=(const Fmu&) = delete;

  const ModelDescription& description() const { return description_; }
  const FmiFunctions& fmi() const { return functions_; }

 private:
  ModelDescription description_;
  FmiFunctions functions_;
  void* handle_ = nullptr;
};

const char* status_name(fmiStatus status);

// The mkdtemp template of a scratch folder: <TMPDIR>/tavelo-sim-<pid>-XXXXXX (/tmp without
// TMPDIR). The pid lets a later run remove the folder once this process is gone.
std::string scratch_folder_template();
