// The result writer's record, embedded in every model instance, and the process-wide cursors
// through which the writer and the variable-table walker number, name and sample variables.
#pragma once

#include <cstdint>

#include "results/amat.h"
#include "results/atraj.h"

// Column codes: for the j-th table record of kind k, kindIndex[k][j] is c > 0 when the
// variable is column c of "data_2" (column 0 is time), and -c when it is column c of "data_1".
//
// Ownership: the trajectory keeps the heap matrix names that atrajInit gave it and owns the
// dataInfo array, the data records and their arrays data1 and data2Row; the writer owns the
// names and descriptions pointer arrays (their strings belong to the variable table) and the
// column-code lists. result_file_close releases all of them. A zeroed record is valid: it is
// neither allocated nor open.
struct ResultFile {
  Atrajectory traj;
  const char** names;         // total rows: signal names, pointers into the variable table
  const char** descriptions;  // total rows: descriptions, pointers into the variable table
  int32_t* dataInfo;          // 4·total, column-major: element (i, c) at c·total + i
  float* data1;               // 2 × (nConstant+1), column-major: element (r, c) at 2c + r
  float* data2Row;            // nVarying+1: the row of "data_2" being written
  int32_t total;              // nConstant + nVarying + nAlias + 1 signals
  int32_t* kindIndex[7];      // per VariableKind 1-6 the column codes in table order; [0] null
  AmatFile file;
  int32_t isOpen;       // 1 while "dsres.mat" is open
  int32_t isAllocated;  // 1 while the trajectory and the arrays above are allocated
  double startTime;     // time of the first row, stored at open
  int32_t rowCounter;   // rows appended, reset to 0 after 10
};

// The walker's view of the writer's state. The phase word itself is ResultWriterPhase
// (model/variable_table.h). Slot 0 of both cursor arrays is null; 7 (alias) has no list.
struct ResultCategoryCursors {
  int32_t nConstant;  // variables in "data_1"
  int32_t nAlias;
  int32_t nVarying;   // variables in "data_2"
  float* rowBuffer;   // data1 in phase 5, data2Row in phase 7
  const char** names;
  const char** descriptions;
  int32_t* dataInfo;
  int32_t nextRow;
  int32_t totalRows;
  int32_t* const* kindIndex;       // the kindIndex lists of the current ResultFile
  int32_t* columnCursor[8];        // per kind the next unread column code
  const double* valueCursor[8];    // per kind the next unread element of its value array
};

extern ResultCategoryCursors resultCursors;
