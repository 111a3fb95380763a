// Trajectory layer over the matrix-file writer.
#include "results/atraj.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "runtime/clocale.h"

const char* const atrajDataInfoComment =
    "\n"
    "# Matrix with 4 columns defining the data of the signals:\n"
    "#\n"
    "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
    "#                      (1,1)=0, means that name(1) is used as abscissa\n"
    "#                      for ALL data matrices!\n"
    "#\n"
    "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
    "#                      data_j with sign(k) used as sign.\n"
    "#\n"
    "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
    "#              = 1..4: Piecewise convex hermite spline interpolation\n"
    "#                      of the column data. Curve is differentiable upto\n"
    "#                      order 1..4. The spline is defined by a polygon.\n"
    "#                      It touches the polygon in the middle of every segment\n"
    "#                      and at the beginning and final point. Between such\n"
    "#                      points the spline is convex. The polygon is also the\n"
    "#                      convex envelope of the spline.\n"
    "#\n"
    "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
    "#              =    0: Keep first/last value outside of time range\n"
    "#              =    1: Linear interpolation through first/last two points outside\n"
    "#                      of time range.\n"
    "#";

namespace {

void report(const char* format, ...) TAVELO_CLOCALE_PRINTF(1, 2);
void report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  clocale_vsnprintf(amatErrorMessage, sizeof amatErrorMessage, format, args);
  va_end(args);
}

int argument_failure(const char* argument, long value, const char* function) {
  report("Input argument %.400s=%ld of function %.400s must be >= 0.\n", argument, value,
         function);
  return 1;
}

int storage_failure() {
  report("Not possible to allocate enough storage for a trajectory:\n%.400s\n",
         std::strerror(errno));
  return 1;
}

// Data-matrix type of a precision: 0 float, 1 double, 2 rows of doubles.
int32_t data_type(int32_t precision) {
  switch (precision) {
    case 0: return realMatrix;
    case 1: return doubleMatrix;
    case 2: return doubleRowMatrix;
    default: return voidMatrix;
  }
}

// index must name a data matrix of traj.
bool valid_index(const Atrajectory* traj, int32_t index, const char* function) {
  if (index < traj->nData) return true;
  report("Input argument %.400s=%ld of function %.400s must be < nData (= %ld).\n", "index",
         static_cast<long>(index), function, static_cast<long>(traj->nData));
  return false;
}

int write_whole(AmatFile* file, const Atrajectory* traj, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i)
    if (amatPutMatrix(file, &traj->data[i]) != 0) return 1;
  return 0;
}

}  // namespace

int atrajInit(Atrajectory* traj, int32_t nData, int32_t precision) {
  if (!traj) return 0;
  traj->classDescription = nullptr;
  traj->nData = 0;
  traj->data = nullptr;
  traj->evaluation = nullptr;
  traj->initMark = 201;
  amatClear(&traj->name);
  amatClear(&traj->description);
  amatClear(&traj->dataInfo);
  if (nData < 0) return argument_failure("nData", nData, "atrajInit");

  char* name = amat_strdup("name");
  char* description = name ? amat_strdup("description") : nullptr;
  char* dataInfo = description ? amat_strdup("dataInfo") : nullptr;
  if (!dataInfo) {
    storage_failure();
    std::free(name);
    std::free(description);
    return 1;
  }
  amatSet(name, 0, 0, charMatrix, nullptr, &traj->name);
  amatSet(description, 0, 0, charMatrix, nullptr, &traj->description);
  amatSet(dataInfo, 0, 4, integerMatrix, nullptr, &traj->dataInfo);
  if (atrajResize(traj, nData, precision) != 0) {
    atrajFree(traj);
    return 1;
  }
  return 0;
}

int atrajResize(Atrajectory* traj, int32_t nDataNew, int32_t precision) {
  if (!traj || nDataNew == 0) return 0;
  if (nDataNew < 0) return argument_failure("nDataNew", nDataNew, "atrajResize");
  if (traj->nData != 0) {
    report("traj->nData (=%ld) of function %.400s must be zero.\n",
           static_cast<long>(traj->nData), "atrajResize");
    return 1;
  }
  auto* data =
      static_cast<AmatMatrix*>(amat_malloc(static_cast<size_t>(nDataNew) * sizeof(AmatMatrix)));
  if (!data) return storage_failure();  // nothing changed
  for (int32_t i = 0; i < nDataNew; ++i) {
    amatClear(&data[i]);
    data[i].type = data_type(precision);
  }
  traj->data = data;
  traj->nData = nDataNew;
  for (int32_t i = 0; i < nDataNew; ++i) {
    char name[24];
    clocale_snprintf(name, sizeof name, "data_%d", static_cast<int>(i + 1));
    data[i].name = amat_strdup(name);
    if (!data[i].name) return storage_failure();  // the records stay, some without a name
  }
  return 0;
}

int atrajPutOpen(const char* fileName, Atrajectory* traj, int32_t index, int32_t format,
                 AmatFile* file) {
  if (!valid_index(traj, index, "atrajPutOpen")) return 1;
  if (amatPutOpen(fileName, format, index >= 0 ? binTrans : binNormal, "Atrajectory", "1.1",
                  traj->classDescription, file) != 0)
    return 1;
  // In the text format every dataInfo row is followed by its signal's name.
  const char* const* names = nullptr;
  if (traj->name.type == charMatrix && traj->name.data && traj->name.nrow >= traj->dataInfo.nrow)
    names = static_cast<const char* const*>(traj->name.data);
  bool ok = amatPutMatrix(file, &traj->name) == 0 && amatPutMatrix(file, &traj->description) == 0 &&
            amatPutMatrixComment(file, &traj->dataInfo, atrajDataInfoComment, names, 4) == 0 &&
            write_whole(file, traj, 0, index < 0 ? traj->nData : index) == 0;
  if (ok && index < 0) {
    amatPutClose(file);
    return 0;
  }
  if (ok) {
    const AmatMatrix& m = traj->data[index];
    ok = amatPutRinit(file, m.name, m.ncol, m.type) == 0;
  }
  if (!ok) {
    amatPutClose(file);
    return 1;
  }
  return 0;
}

int atrajPutRow(AmatFile* file, const float* row) { return amatPutRrow(file, row); }

int atrajPutClose(AmatFile* file, Atrajectory* traj, int32_t index) {
  bool ok = valid_index(traj, index, "atrajPutClose") && amatPutRclose(file) == 0 &&
            write_whole(file, traj, index < 0 ? 0 : index + 1, traj->nData) == 0;
  amatPutClose(file);
  return ok ? 0 : 1;
}

void atrajFree(Atrajectory* traj) {
  if (!traj) return;
  std::free(traj->classDescription);
  traj->classDescription = nullptr;
  amatFree(&traj->name);
  amatFree(&traj->description);
  amatFree(&traj->dataInfo);
  if (traj->evaluation) {
    // The record itself belongs to whoever set it; the trajectory owns its two buffers.
    std::free(traj->evaluation->buffer1);
    std::free(traj->evaluation->buffer2);
    traj->evaluation = nullptr;
  }
  for (int32_t i = 0; traj->data && i < traj->nData; ++i) amatFree(&traj->data[i]);
  std::free(traj->data);
  traj->nData = 0;
  traj->data = nullptr;
}
