// Marks over the array buffers: saving, raising the release point, releasing, resetting.
#include "runtime/runtime_state.h"
#include "source/matrixop.h"

MatrixMark PushMark() {
  const MatrixMark saved = currentMark;
  currentMark.base = currentMark.place;
  return saved;
}

MatrixPlace PushMarkPlace() {
  const MatrixPlace place = currentMark.place;
  currentMark.base = currentMark.place;
  return place;
}

void ReleaseTemporaries() { currentMark.place = currentMark.base; }

void PopMark(MatrixMark mark) { currentMark = mark; }

void ResetMarks() {
  currentMark = startMark;
  stringmark = simplestring;
}

void end_equation_reset() {
  ResetMarks();
  modelRuntime.functionStack = nullptr;
}
