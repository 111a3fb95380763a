// The instance lifecycle: instantiation with the GUID check and the single-instance guard,
// freeing, debug logging, time and termination.
#include <cstring>
#include <initializer_list>
#include <new>

#include "fmi/fmi_functions.h"
#include "fmi/model_instance.h"
#include "model/variable_table.h"
#include "results/result_writer.h"

ModelInstance* currentInstance = nullptr;
const char modelGUID[] = "{8a4d88a0-e4db-4e8b-bfa0-f36b6a6c89b3}";

namespace {

constexpr size_t InstanceNameLimit = 1024;

ModelInstance* as_instance(fmiComponent c) { return static_cast<ModelInstance*>(c); }

// Exact, case-sensitive; a null GUID matches nothing.
bool guid_matches(const char* guid) { return guid != nullptr && std::strcmp(guid, modelGUID) == 0; }

double* allocate_values(const ModelInstance& instance, int count) {
  const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
  return static_cast<double*>(instance.allocateMemory(n + 1, sizeof(double)));
}

// The record is freed with everything allocated so far; currentInstance is not this record.
ModelInstance* fail_instantiation(ModelInstance* instance, const char* instanceName) {
  log_status_message(instance, instanceName ? instanceName : "", "", fmiFatal,
                     "Instantiation failed\n");
  fmiFreeModelInstance(instance);
  return nullptr;
}

}  // namespace

const char* fmiGetModelTypesPlatform() { return "standard32"; }

const char* fmiGetVersion() { return "1.0"; }

char* copy_instance_name(const fmiCallbackFunctions& functions, const char* name) {
  if (name == nullptr) name = "<NULL>";
  const size_t length = strnlen(name, InstanceNameLimit);
  char* copy = static_cast<char*>(functions.allocateMemory(length + 1, 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, name, length);
  copy[length] = '\0';
  return copy;
}

fmiComponent fmiInstantiateModel(fmiString instanceName, fmiString GUID,
                                 fmiCallbackFunctions functions, fmiBoolean loggingOn) {
  if (ModelInstance* existing = currentInstance) {
    log_status_message(existing, instanceName ? instanceName : existing->instanceName, "", fmiFatal,
                       "fmiInstantiateModel: multiple instances not supported\n");
    return nullptr;
  }
  // Without both memory callbacks nothing can be allocated or given back.
  if (functions.allocateMemory == nullptr || functions.freeMemory == nullptr) return nullptr;

  void* memory = functions.allocateMemory(1, sizeof(ModelInstance));
  if (memory == nullptr) return nullptr;
  // Calloc semantics are the host's duty; a record in a defined state does not depend on it.
  auto* instance = new (memory) ModelInstance{};
  instance->logger = functions.logger;
  instance->allocateMemory = functions.allocateMemory;
  instance->freeMemory = functions.freeMemory;

  instance->instanceName = copy_instance_name(functions, instanceName);
  if (instance->instanceName == nullptr) return fail_instantiation(instance, instanceName);
  instance->loggingOn = static_cast<uint8_t>(loggingOn);

  if (!guid_matches(GUID)) {
    log_status_message(instance, instanceName ? instanceName : "", "", fmiError,
                       "Invalid GUID: %s, expected %s\n", GUID ? GUID : "<NULL>", modelGUID);
    fmiFreeModelInstance(instance);
    return nullptr;
  }

  int nx = 0, nx2 = 0, nu = 0, ny = 0, nw = 0, np = 0, nrel = 0, n8 = 0, n9 = 0;
  get_model_sizes(&nx, &nx2, &nu, &ny, &nw, &np, &nrel, &n8, &n9);
  instance->nx = nx > 0 ? static_cast<uint32_t>(nx) : 0;
  instance->ni = nrel > 0 ? 2 * static_cast<uint32_t>(nrel) : 0;

  // All eight are requested before any is tested.
  instance->states = allocate_values(*instance, nx);
  instance->derivatives = allocate_values(*instance, nx);
  instance->parameters = allocate_values(*instance, np);
  instance->inputs = allocate_values(*instance, nu);
  instance->outputs = allocate_values(*instance, ny);
  instance->auxiliaries = allocate_values(*instance, nw);
  instance->eventIndicators = allocate_values(*instance, static_cast<int>(instance->ni));
  instance->nominalStates = allocate_values(*instance, nx);
  for (double* array : {instance->states, instance->derivatives, instance->parameters,
                        instance->inputs, instance->outputs, instance->auxiliaries,
                        instance->eventIndicators, instance->nominalStates}) {
    if (array == nullptr) return fail_instantiation(instance, instanceName);
  }

  for (uint32_t i = 0; i < instance->nx; ++i) instance->nominalStates[i] = 1.0;
  instance->initialized = 0;
  instance->recordResult = 0;

  // Phase 0: the walk copies the start values, whatever phase an earlier writer left behind.
  ResultWriterPhase = 0;
  int32_t QiErr = 0;
  declare_(instance->states, instance->parameters, &QiErr);
  if (QiErr != 0) {
    log_status_message(instance, instance->instanceName, "", fmiError,
                       "fmiInstantiateModel: declare_ failed, QiErr = %d\n", QiErr);
    return fail_instantiation(instance, instanceName);
  }

  currentInstance = instance;
  return instance;
}

fmiComponent enable_result_recording(fmiComponent c) {
  if (c != nullptr) as_instance(c)->recordResult = 1;
  return c;
}

void fmiFreeModelInstance(fmiComponent c) {
  ModelInstance* instance = as_instance(c);
  if (instance == nullptr) return;
  // A result file still open (freed without fmiTerminate) is finished and closed, and the
  // writer's storage released, before the record goes.
  result_file_close(&instance->result);
  const fmiCallbackFreeMemory release = instance->freeMemory;
  release(instance->instanceName);
  release(instance->states);
  release(instance->derivatives);
  release(instance->parameters);
  release(instance->inputs);
  release(instance->outputs);
  release(instance->auxiliaries);
  release(instance->eventIndicators);
  release(instance->nominalStates);
  release(instance);
  currentInstance = nullptr;
}

fmiStatus fmiSetDebugLogging(fmiComponent c, fmiBoolean loggingOn) {
  ModelInstance* instance = as_instance(c);
  if (instance == nullptr) return fmiError;
  instance->loggingOn = static_cast<uint8_t>(loggingOn);
  return fmiOK;
}

fmiStatus fmiSetTime(fmiComponent c, fmiReal time) {
  ModelInstance* instance = as_instance(c);
  if (instance == nullptr) return fmiError;
  instance->time = time;
  instance->computedLevel = 0;
  return fmiOK;
}

fmiStatus fmiTerminate(fmiComponent c) {
  ModelInstance* instance = as_instance(c);
  if (instance == nullptr) return fmiError;
  if (instance->recordResult == 1) {
    result_file_close(&instance->result);
  }
  instance->initialized = 0;
  return fmiOK;
}
