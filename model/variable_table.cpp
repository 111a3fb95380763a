// The walker of the variable table, the model sizes and name lookup.
#include "model/variable_table.h"

#include <cstring>
#include <functional>

#include "results/result_file.h"
#include "results/result_writer.h"

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

// Records of each kind 0-7 in the table, the length of each kind's column-code list.
constexpr int kind_count(int kind) {
  constexpr int counts[8] = {0, ModelParameterCount, ModelStateCount, ModelStateCount,
                             ModelOutputCount, ModelInputCount, ModelAuxiliaryCount, 0};
  return kind >= 0 && kind < 8 ? counts[kind] : 0;
}

bool has_storage(int kind) { return kind >= KindParameter && kind <= KindAuxiliary; }

// Phase 1: one column code per record of kinds 1-6, in table order, into its kind's list;
// parameters and time-invariant outputs, inputs and auxiliaries go to data_1, the others to
// data_2. Aliases are only counted.
void number_variables() {
  ResultCategoryCursors& r = resultCursors;
  int seen[8] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (kind == KindAlias) {
      ++r.nAlias;
      continue;
    }
    if (!has_storage(kind) || seen[kind] >= kind_count(kind)) continue;
    ++seen[kind];
    const bool constant =
        kind == KindParameter ||
        ((kind == KindOutput || kind == KindInput || kind == KindAuxiliary) &&
         is_time_invariant(record));
    const int32_t code = constant ? -(++r.nConstant) : ++r.nVarying;
    if (r.columnCursor[kind] != nullptr) *r.columnCursor[kind]++ = code;
  }
}

// Phase 3: name, description and dataInfo row of every record of kinds 1-7, from row 1 on.
// A record whose column cannot be found (an alias of kind 0 or outside its target's list)
// gets no row, so the writer's row count check fails; rows past the end are counted but not
// written.
void name_variables() {
  ResultCategoryCursors& r = resultCursors;
  int seen[8] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    int32_t code;
    int32_t sign = 1;
    if (kind == KindAlias) {
      const int target = alias_target_kind(record);
      if (!has_storage(target) || record.index < 0 || record.index >= kind_count(target) ||
          r.kindIndex == nullptr || r.kindIndex[target] == nullptr)
        continue;
      code = r.kindIndex[target][record.index];
      sign = alias_sign(record) < 0.0 ? -1 : 1;
    } else {
      if (!has_storage(kind) || seen[kind] >= kind_count(kind) || r.columnCursor[kind] == nullptr)
        continue;
      ++seen[kind];
      code = *r.columnCursor[kind]++;
    }
    const int32_t row = r.nextRow++;
    if (row < 0 || row >= r.totalRows) continue;
    const int32_t total = r.totalRows;
    r.names[row] = record.name;
    r.descriptions[row] = record.description;
    r.dataInfo[row] = code > 0 ? 2 : 1;
    r.dataInfo[total + row] = sign * ((code > 0 ? code : -code) + 1);
    r.dataInfo[2 * total + row] = 0;
    r.dataInfo[3 * total + row] = -1;
  }
}

// Phases 5 and 7: the value of every record of kinds 1-6 under its kind's value cursor, as a
// float, into the row buffer: phase 5 the data_1 variables (both rows of their column),
// phase 7 the data_2 variables. Every record advances its kind's cursors by one.
void sample_variables(bool constants) {
  ResultCategoryCursors& r = resultCursors;
  int seen[8] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (!has_storage(kind) || seen[kind] >= kind_count(kind) || r.columnCursor[kind] == nullptr)
      continue;
    ++seen[kind];
    const int32_t code = *r.columnCursor[kind]++;
    const double* value = r.valueCursor[kind];
    if (value == nullptr) continue;
    r.valueCursor[kind] = value + 1;
    if (r.rowBuffer == nullptr) continue;
    if (constants && code < 0) {
      r.rowBuffer[2 * -code] = r.rowBuffer[2 * -code + 1] = result_float(*value);
    } else if (!constants && code > 0) {
      r.rowBuffer[code] = result_float(*value);
    }
  }
}

// The row walk of phase 7 visits all records to find the few time-varying ones, and the column
// codes do not change while a file is open. So the walk of phase 5 also notes, in table order,
// which element of which kind goes to which data_2 column, and phase 7 samples only those: the
// same stores in the same order, and the cursors left where the walk leaves them. The plan
// holds from the phase-5 walk until the next numbering, and only for rows sampled from the
// start of the lists it was made from; any other row is sampled by the walk.
struct RowSample {
  int32_t kind;
  int32_t element;
  int32_t column;
};
struct RowSamplingPlan {
  int32_t* const* kindIndex = nullptr;  // the lists it was made from; null: no plan
  int32_t visited[8] = {};              // records of each kind the walk takes
  int32_t count = 0;
  RowSample samples[VariableTableSize];
};
RowSamplingPlan rowPlan;

void make_row_sampling_plan() {
  const ResultCategoryCursors& r = resultCursors;
  rowPlan.kindIndex = nullptr;
  rowPlan.count = 0;
  if (r.kindIndex == nullptr) return;
  int32_t seen[8] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (!has_storage(kind) || seen[kind] >= kind_count(kind)) continue;
    if (r.kindIndex[kind] == nullptr) return;
    const int32_t element = seen[kind]++;
    const int32_t code = r.kindIndex[kind][element];
    if (code > 0) rowPlan.samples[rowPlan.count++] = {kind, element, code};
  }
  for (int k = 0; k < 8; ++k) rowPlan.visited[k] = seen[k];
  rowPlan.kindIndex = r.kindIndex;
}

bool row_sampling_plan_applies() {
  const ResultCategoryCursors& r = resultCursors;
  if (rowPlan.kindIndex == nullptr || rowPlan.kindIndex != r.kindIndex) return false;
  for (int k = KindParameter; k <= KindAuxiliary; ++k) {
    if (rowPlan.visited[k] > 0 && r.columnCursor[k] != r.kindIndex[k]) return false;
  }
  return true;
}

void sample_row() {
  if (!row_sampling_plan_applies()) {
    sample_variables(false);
    return;
  }
  ResultCategoryCursors& r = resultCursors;
  if (r.rowBuffer != nullptr) {
    const double* const* values = r.valueCursor;
    for (int32_t i = 0; i < rowPlan.count; ++i) {
      const RowSample& s = rowPlan.samples[i];
      if (values[s.kind] != nullptr)
        r.rowBuffer[s.column] = result_float(values[s.kind][s.element]);
    }
  }
  for (int k = KindParameter; k <= KindAuxiliary; ++k) {
    if (r.columnCursor[k] == nullptr) continue;
    r.columnCursor[k] += rowPlan.visited[k];
    if (r.valueCursor[k] != nullptr) r.valueCursor[k] += rowPlan.visited[k];
  }
}

}  // namespace

void walk_variable_table(double* states, double* parameters, int32_t* QiErr) {
  (void)QiErr;  // the walk has no failure
  switch (ResultWriterPhase) {
    case 0:
      copy_start_values(states, parameters);
      break;
    case 1:
      forget_row_sampling_plan();
      number_variables();
      break;
    case 3:
      name_variables();
      break;
    case 5:
      sample_variables(true);
      make_row_sampling_plan();
      break;
    case 7:
      sample_row();
      break;
    default:
      break;
  }
}

void forget_row_sampling_plan() { rowPlan.kindIndex = nullptr; }

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
