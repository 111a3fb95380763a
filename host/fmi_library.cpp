#include "host/fmi_library.h"

#include <cstring>

#include <dlfcn.h>

#include "host/errors.h"
#include "host/fmu_archive.h"
#include "host/scratch_folder.h"

namespace {

// The loader's message without the scratch file's path it begins with: that file is gone.
std::string loader_error(const std::string& path) {
  const char* error = dlerror();
  std::string text = error ? error : "the loader gives no reason";
  const std::string prefix = path + ": ";
  if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
  return text;
}

}  // namespace

FmiLibrary::FmiLibrary(const FmuArchive& fmu, const std::string& modelIdentifier)
    : name_(FmuArchive::binary_entry(modelIdentifier) + " of " + fmu.path()) {
  {
    const std::string binary = fmu.binary(modelIdentifier);
    const ScratchFile file(modelIdentifier + ".so");
    std::string problem = file.write(binary);
    if (problem.empty()) {
      // Every symbol is bound now: one that no library defines refuses the FMU here, not the
      // call that needs it in the middle of the run.
      handle_ = dlopen(file.path().c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle_ == nullptr) {
        // A folder no program runs from is the reason, not the segment the loader names.
        const std::string folderProblem = file.load_problem();
        problem = folderProblem.empty() ? loader_error(file.path()) : folderProblem;
      }
    }
    if (!problem.empty()) throw HostError("cannot load " + name_ + ": " + problem);
  }
  try {
    resolve(modelIdentifier);
    check_version();
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

FmiLibrary::~FmiLibrary() { dlclose(handle_); }

void FmiLibrary::resolve(const std::string& id) {
  std::string missing;
#define TAVELO_SIM_RESOLVE(name)                                                        \
  functions_.name = reinterpret_cast<fmi##name##TYPE*>(                                 \
      dlsym(handle_, (id + "_fmi" #name).c_str()));                                      \
  if (functions_.name == nullptr) missing += (missing.empty() ? "" : ", ") + id + "_fmi" #name;
  TAVELO_FMI_FUNCTIONS(TAVELO_SIM_RESOLVE)
#undef TAVELO_SIM_RESOLVE
  if (!missing.empty())
    throw HostError(name_ + " lacks " + missing + " (is the model identifier \"" + id +
                    "\" right?)");
}

void FmiLibrary::check_version() const {
  const char* version = functions_.GetVersion();
  const char* platform = functions_.GetModelTypesPlatform();
  std::string problem;
  if (version == nullptr || std::strcmp(version, "1.0") != 0)
    problem = std::string("FMI version \"") + (version ? version : "(null)") + "\", not 1.0";
  else if (platform == nullptr || std::strcmp(platform, "standard32") != 0)
    problem = std::string("platform \"") + (platform ? platform : "(null)") +
              "\", not standard32";
  if (!problem.empty()) throw HostError(name_ + " reports " + problem);
}
