// Trajectory layer: a result trajectory (signal names, descriptions, the dataInfo table and the
// data matrices, whose first column is time) written as a matrix file of class "Atrajectory",
// version "1.1". One data matrix may be written row by row while the others are written whole.
#pragma once

#include <cstdint>

#include "results/amat.h"

// Evaluation buffers of the reading side; never set by this library.
struct AtrajEvaluation {
  void* buffer1;
  void* buffer2;
};

// A trajectory. Owns classDescription, the three header matrices with their names and data,
// the data array and every data matrix with its name and data; atrajFree releases them all.
struct Atrajectory {
  char* classDescription;  // third row of the class matrix; null writes " "
  int32_t nData;
  AmatMatrix name;         // charMatrix "name": one signal name per row
  AmatMatrix description;  // charMatrix "description"
  AmatMatrix dataInfo;     // integerMatrix "dataInfo", 4 columns: matrix, column, interp., extrap.
  AmatMatrix* data;        // nData matrices "data_1" ... "data_n"
  AtrajEvaluation* evaluation;
  int32_t initMark;        // 201 once initialised
};

// The comment written in front of dataInfo in the text format.
extern const char* const atrajDataInfoComment;

int atrajInit(Atrajectory* traj, int32_t nData, int32_t precision);
int atrajResize(Atrajectory* traj, int32_t nDataNew, int32_t precision);
// Writes the whole trajectory (index < 0, then closes the file) or everything before data matrix
// index and starts that one row-wise, leaving the file open.
int atrajPutOpen(const char* fileName, Atrajectory* traj, int32_t index, int32_t format,
                 AmatFile* file);
int atrajPutRow(AmatFile* file, const float* row);
int atrajPutClose(AmatFile* file, Atrajectory* traj, int32_t index);
void atrajFree(Atrajectory* traj);
