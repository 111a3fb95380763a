// The model's library, loaded from the FMU as any FMI 1.0 host loads it: unpacked into a
// scratch folder, opened with dlopen, its 24 functions resolved by the model identifier.
#pragma once

#include <string>

#include "fmi/fmi_types.h"

class FmuArchive;

// The 24 functions of the library.
struct FmiFunctions {
#define TAVELO_SIM_POINTER(name) fmi##name##TYPE* name = nullptr;
  TAVELO_FMI_FUNCTIONS(TAVELO_SIM_POINTER)
#undef TAVELO_SIM_POINTER
};

class FmiLibrary {
 public:
  // Reads the binary of the model from the archive (checked), unpacks it into a scratch folder,
  // loads it and checks it: all 24 functions, version "1.0", platform "standard32". The
  // scratch folder is gone again when the constructor returns or throws. Throws HostError.
  FmiLibrary(const FmuArchive& fmu, const std::string& modelIdentifier);
  // Unloads the library.
  ~FmiLibrary();
  FmiLibrary(const FmiLibrary&) = delete;
  FmiLibrary& operator=(const FmiLibrary&) = delete;

  const FmiFunctions& functions() const { return functions_; }

 private:
  void resolve(const std::string& modelIdentifier);
  void check_version() const;

  std::string name_;  // "<entry> of <FMU>", for messages
  FmiFunctions functions_;
  void* handle_ = nullptr;
};
