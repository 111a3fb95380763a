// The walker of the variable table, the model sizes and name lookup.
#include "model/variable_table.h"

#include <cstring>
#include <functional>

int ResultWriterPhase = 0;

void get_model_sizes(int* nx, int* nx2, int* nu, int* ny, int* nw, int* np, int* nrel, int* n8,
                     int* n9) {
  const int counts[9] = {ModelStateCount,     0, ModelInputCount,    ModelOutputCount,
                         ModelAuxiliaryCount, ModelParameterCount, ModelRelationCount,
                         0,                   0};
  int* const targets[9] = {nx, nx2, nu, ny, nw, np, nrel, n8, n9};
  for (int i = 0; i < 9; ++i) {
    if (targets[i] != nullptr) *targets[i] = counts[i];
  }
}

namespace {

// Phase 0: the start values of parameters and states into their arrays; every other record
// and array is left alone.
void copy_start_values(double* states, double* parameters) {
  for (const VariableRecord& record : variableTable) {
    switch (record_kind(record)) {
      case KindParameter:
        if (parameters != nullptr) parameters[record.index] = record.start;
        break;
      case KindState:
        if (states != nullptr) states[record.index] = record.start;
        break;
      default:
        break;
    }
  }
}

}  // namespace

void walk_variable_table(double* states, double* parameters, int32_t* QiErr) {
  (void)QiErr;  // the walk has no failure
  switch (ResultWriterPhase) {
    case 0:
      copy_start_values(states, parameters);
      break;
    // 1, 3, 5, 7: the result writer's numbering, naming, constant and row sampling walks.
    default:
      break;
  }
}

void declare_(double* states, double* parameters, int32_t* QiErr) {
  walk_variable_table(states, parameters, QiErr);
}

const VariableRecord* find_variable(const char* name) {
  if (name == nullptr) return nullptr;
  for (const VariableRecord& record : variableTable) {
    if (std::strcmp(record.name, name) == 0) return &record;
  }
  return nullptr;
}

int variable_position(const VariableRecord* record) {
  // std::less: a total order also for pointers outside the table.
  const std::less<const VariableRecord*> before;
  if (record == nullptr || before(record, variableTable) ||
      !before(record, variableTable + VariableTableSize)) {
    return -1;
  }
  const int kind = record_kind(*record);
  int position = 0;
  for (const VariableRecord* r = variableTable; r != record; ++r) {
    if (record_kind(*r) == kind) ++position;
  }
  return position;
}
