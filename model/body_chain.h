// The model body: a chain of pieces that call one another in a fixed order, one pass of the
// event iteration per call of the first piece. Every section stands under a guard that stores
// its result in the shared sectionFlag; later blocks may test the flag an earlier guard left.
#pragma once

#include <cstdint>

#include "model/dsblock.h"
#include "runtime/runtime_state.h"

// Result of the last guard evaluated, 0 or 1. Never reset between pieces or calls.
extern int32_t sectionFlag;

// GI: the initial sections (constants, pre-value handling) run while initial is 1.
inline bool GI(int32_t* computedLevel) {
  sectionFlag = modelRuntime.initial == 1;
  if (sectionFlag) *computedLevel = 0;
  return sectionFlag != 0;
}

// GE: the initial equations and the restore of the saved discrete values; same condition.
inline bool GE(int32_t* computedLevel) {
  sectionFlag = modelRuntime.initial == 1;
  if (sectionFlag) *computedLevel = 0;
  return sectionFlag != 0;
}

// GN: the parameter-dependent section runs in a new initialisation.
inline bool GN() {
  sectionFlag = modelRuntime.newInit != 0;
  return sectionFlag != 0;
}

// GL(L): the level-L section runs when the demand reaches L and the computed level does not,
// at every event pass, and for every crossing-function request.
inline bool GL(int32_t level, const ModelEntryArguments& a) {
  sectionFlag = (*a.demand >= level && *a.computedLevel < level) || modelRuntime.event != 0 ||
                *a.demand == DemandCrossingFunctions;
  if (sectionFlag) *a.computedLevel = level;
  return sectionFlag != 0;
}

// The pieces, in chain order. Each but the first skips its work while *QiErr is nonzero; each
// copies a nonzero RunStatus into *QiErr on its way back.
void model_bindings_1(const ModelEntryArguments& a, int extra);
void model_bindings_2(const ModelEntryArguments& a);
void model_bindings_3(const ModelEntryArguments& a);
void model_bindings_4(const ModelEntryArguments& a);
void model_bindings_5(const ModelEntryArguments& a);
void model_bindings_6(const ModelEntryArguments& a);
void model_dependent_parameters(const ModelEntryArguments& a);
void model_friction_mixed_system(const ModelEntryArguments& a);
void model_outputs_and_modes(const ModelEntryArguments& a);

// The six blocks of the constant section (constant_section.cpp).
void constant_block_1(double* w);
void constant_block_2(double* w);
void constant_block_3(double* w);
void constant_block_4(double* w);
void constant_block_5(double* w);
void constant_block_6(double* w);
// All six in order, for users outside the chain (the model description, tests).
void constant_blocks(double* w);
