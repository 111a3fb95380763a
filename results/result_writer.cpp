// The result writer: "dsres.mat" through the trajectory layer, with the variable-table walker
// doing the numbering, naming and sampling in the writer's phases.
#include "results/result_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "model/variable_table.h"

const char resultFileName[] = "dsres.mat";
ResultCategoryCursors resultCursors{};

namespace {

[[noreturn]] void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

// An array of count elements through the allocation counter of the matrix-file library;
// none for count 0. A failed allocation is fatal.
template <typename T>
T* allocate(int32_t count) {
  if (count <= 0) return nullptr;
  void* p = amat_malloc(static_cast<size_t>(count) * sizeof(T));
  if (p == nullptr) fatal("Out of memory");
  std::memset(p, 0, static_cast<size_t>(count) * sizeof(T));
  return static_cast<T*>(p);
}

void point_column_cursors(ResultFile* result) {
  for (int k = 0; k < 8; ++k) resultCursors.columnCursor[k] = k < 7 ? result->kindIndex[k] : nullptr;
}

void point_value_cursors(const ResultPhaseArguments& a) {
  const double* arrays[8] = {nullptr,   a.parameters, a.states,      a.derivatives,
                             a.outputs, a.inputs,     a.auxiliaries, nullptr};
  for (int k = 0; k < 8; ++k) resultCursors.valueCursor[k] = arrays[k];
}

void clear_cursors() {
  for (int k = 0; k < 8; ++k) {
    resultCursors.columnCursor[k] = nullptr;
    resultCursors.valueCursor[k] = nullptr;
  }
  resultCursors.rowBuffer = nullptr;
}

// declare_ reads no array in the writer's phases; its values come through the cursors.
void walk(const ResultPhaseArguments& a) {
  declare_(const_cast<double*>(a.states), const_cast<double*>(a.parameters), nullptr);
}

// Phase 1: the column-code lists, filled by the numbering walk.
void number_signals(ResultFile* result) {
  result->isOpen = 0;
  result->isAllocated = 0;
  resultCursors = ResultCategoryCursors{};
  int nx = 0, nx2 = 0, nu = 0, ny = 0, nw = 0, np = 0, nrel = 0, n8 = 0, n9 = 0;
  get_model_sizes(&nx, &nx2, &nu, &ny, &nw, &np, &nrel, &n8, &n9);
  const int counts[7] = {0, np, nx, nx, ny, nu, nw};
  result->kindIndex[0] = nullptr;
  for (int k = 1; k < 7; ++k) result->kindIndex[k] = allocate<int32_t>(counts[k]);
  resultCursors.kindIndex = result->kindIndex;
  point_column_cursors(result);
  ResultPhaseArguments none{};
  walk(none);
}

// Phase 2: the trajectory with its header matrices and the two data records. The trajectory
// keeps the matrix names atrajInit allocated for it.
void allocate_storage(ResultFile* result) {
  Atrajectory& traj = result->traj;
  if (atrajInit(&traj, 2, 0) != 0 || traj.nData != 2 || traj.data == nullptr)
    fatal("Out of memory");
  const int32_t nConstant = resultCursors.nConstant;
  const int32_t nVarying = resultCursors.nVarying;
  result->total = nConstant + nVarying + resultCursors.nAlias + 1;
  result->names = allocate<const char*>(result->total);
  result->descriptions = allocate<const char*>(result->total);
  result->dataInfo = allocate<int32_t>(4 * result->total);
  // The header matrices lend the pointer arrays; close takes them back before atrajFree.
  amatSet(traj.name.name, result->total, 0, charMatrix, result->names, &traj.name);
  amatSet(traj.description.name, result->total, 0, charMatrix, result->descriptions,
          &traj.description);
  amatSet(traj.dataInfo.name, result->total, 4, integerMatrix, result->dataInfo, &traj.dataInfo);
  result->data1 = allocate<float>(2 * (nConstant + 1));
  result->data2Row = allocate<float>(nVarying + 1);
  amatSet(traj.data[0].name, 2, nConstant + 1, realMatrix, result->data1, &traj.data[0]);
  amatSet(traj.data[1].name, 1, nVarying + 1, realMatrix, result->data2Row, &traj.data[1]);
  result->isAllocated = 1;
}

// Phase 3: row 0 is time, then one row per record of kinds 1-7 from the naming walk.
void name_signals(const ResultPhaseArguments& a) {
  ResultFile* result = a.result;
  point_column_cursors(result);
  resultCursors.kindIndex = result->kindIndex;
  resultCursors.names = result->names;
  resultCursors.descriptions = result->descriptions;
  resultCursors.dataInfo = result->dataInfo;
  resultCursors.totalRows = result->total;
  const int32_t total = result->total;
  result->names[0] = "Time";
  result->descriptions[0] = "Time in seconds";
  result->dataInfo[0] = 0;
  result->dataInfo[total] = 1;
  result->dataInfo[2 * total] = 0;
  result->dataInfo[3 * total] = -1;
  resultCursors.nextRow = 1;
  walk(a);
}

// Phase 5: data_1 at time: column 0 time, then the time-invariant values.
void sample_constants(const ResultPhaseArguments& a) {
  point_column_cursors(a.result);
  resultCursors.rowBuffer = a.result->data1;
  a.result->data1[0] = result_float(a.time);
  point_value_cursors(a);
  walk(a);
}

// Phase 6: data_1 at t1 as well, then the file with everything up to data_1 and data_2
// started row-wise.
void open_file(const ResultPhaseArguments& a) {
  ResultFile* result = a.result;
  clear_cursors();
  result->data1[1] = result_float(a.t1);
  if (atrajPutOpen(resultFileName, &result->traj, 1, 1, &result->file) != 0)
    fatal("Failed to open result dsres.mat");
  result->rowCounter = 0;
  result->startTime = a.time;
  result->isOpen = 1;
}

// Phase 7: the row of data_2: column 0 time, then the time-varying values.
void sample_row(const ResultPhaseArguments& a) {
  point_column_cursors(a.result);
  resultCursors.rowBuffer = a.result->data2Row;
  a.result->data2Row[0] = result_float(a.time);
  point_value_cursors(a);
  walk(a);
}

// Phase 8: append the row; a failed append is not reported.
void append_row(ResultFile* result) {
  clear_cursors();
  if (++result->rowCounter >= 10) result->rowCounter = 0;
  (void)atrajPutRow(&result->file, result->data2Row);
}

// Phase 9: finish the file and release everything. The names and descriptions arrays hold
// pointers into the variable table: the arrays are freed here, the strings never, and the
// header matrices are cleared of them before atrajFree releases the rest of the trajectory
// (matrix names, dataInfo, the data records with data1 and data2Row).
void close_file(ResultFile* result) {
  if (result->isOpen) {
    (void)atrajPutClose(&result->file, &result->traj, 1);
    result->isOpen = 0;
  }
  Atrajectory& traj = result->traj;
  std::free(result->names);
  std::free(result->descriptions);
  result->names = nullptr;
  result->descriptions = nullptr;
  traj.name.data = nullptr;
  traj.name.nrow = 0;
  traj.description.data = nullptr;
  traj.description.nrow = 0;
  atrajFree(&traj);
  result->dataInfo = nullptr;
  result->data1 = nullptr;
  result->data2Row = nullptr;
  for (int32_t*& list : result->kindIndex) {
    std::free(list);
    list = nullptr;
  }
  result->total = 0;
  result->isAllocated = 0;
  resultCursors = ResultCategoryCursors{};
}

}  // namespace

void result_file_phase(const ResultPhaseArguments& a) {
  ResultWriterPhase = a.phase;
  ResultFile* result = a.result;
  switch (a.phase) {
    case 1: number_signals(result); break;
    case 2: allocate_storage(result); break;
    case 3: name_signals(a); break;
    case 4:
      if (resultCursors.nextRow != result->total) fatal("Internal error");
      break;
    case 5: sample_constants(a); break;
    case 6: open_file(a); break;
    case 7: sample_row(a); break;
    case 8: append_row(result); break;
    case 9: close_file(result); break;
    default: break;
  }
}

void result_file_prepare(ResultFile* result) {
  ResultPhaseArguments a{};
  a.result = result;
  for (int32_t phase : {1, 2}) {
    a.phase = phase;
    result_file_phase(a);
  }
}

void result_file_open(ResultFile* result, double time, double t1, const double* parameters,
                      const double* states, const double* derivatives, const double* outputs,
                      const double* inputs, const double* auxiliaries) {
  // Open needs a prepared record that is not open yet.
  if (!result->isAllocated || result->isOpen) fatal("Internal error");
  ResultPhaseArguments a{0,       result, time,   t1,         parameters, states, derivatives,
                         outputs, inputs, auxiliaries};
  for (int32_t phase : {3, 4, 5, 6}) {
    a.phase = phase;
    result_file_phase(a);
  }
}

void result_file_write_row(ResultFile* result, double time, double t1, const double* parameters,
                           const double* states, const double* derivatives,
                           const double* outputs, const double* inputs,
                           const double* auxiliaries) {
  if (!result->isOpen) return;
  ResultPhaseArguments a{0,       result, time,   t1,         parameters, states, derivatives,
                         outputs, inputs, auxiliaries};
  for (int32_t phase : {7, 8}) {
    a.phase = phase;
    result_file_phase(a);
  }
}

void result_file_close(ResultFile* result) {
  ResultPhaseArguments a{};
  a.phase = 9;
  a.result = result;
  result_file_phase(a);
  ResultWriterPhase = 0;
}
