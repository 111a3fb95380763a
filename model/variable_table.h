// The model's static variable table, its walker declare_ and the model sizes.
#pragma once

#include <cstdint>

// Kinds of a variable-table record; 1-6 are also the kind field of a value reference.
enum VariableKind : int32_t {
  KindNone = 0,
  KindParameter = 1,
  KindState = 2,
  KindDerivative = 3,
  KindOutput = 4,
  KindInput = 5,
  KindAuxiliary = 6,
  KindAlias = 7,
};

struct VariableRecord {
  int32_t flags;            // bits 0-2 kind; bits 3-5 alias target code; bit 5 time-invariant
  const char* name;
  const char* description;  // never null; may be empty
  double start;             // for an alias: its sign (+1.0 or -1.0)
  double min;
  double max;
  double nominal;
  int32_t index;            // parameter, state: array index; alias: position of the target
};

// Bits of VariableRecord::flags.
constexpr int32_t FlagKindMask = 0x7;
constexpr int32_t FlagAliasCodeShift = 3;
constexpr int32_t FlagAliasCodeMask = 0x7 << FlagAliasCodeShift;
// Outputs, inputs, auxiliaries: stored once in the result file. For an alias this bit belongs
// to the target code.
constexpr int32_t FlagTimeInvariant = 0x20;

constexpr int record_kind(const VariableRecord& record) { return record.flags & FlagKindMask; }

// The kind of an alias's target, from the target code in bits 3-5. Codes 0 and 4 give
// KindNone.
constexpr int alias_target_kind(const VariableRecord& record) {
  constexpr int kindOfCode[8] = {KindNone,   KindState,      KindInput,      KindOutput,
                                 KindNone,   KindAuxiliary,  KindDerivative, KindParameter};
  return kindOfCode[(record.flags & FlagAliasCodeMask) >> FlagAliasCodeShift];
}

// Only meaningful for outputs, inputs and auxiliaries.
constexpr bool is_time_invariant(const VariableRecord& record) {
  return (record.flags & FlagTimeInvariant) != 0;
}

// An alias's value is sign × target value; the sign is stored as its start.
constexpr double alias_sign(const VariableRecord& record) { return record.start < 0.0 ? -1.0 : 1.0; }

constexpr int VariableTableSize = 2324;
extern const VariableRecord variableTable[VariableTableSize];

// The model's counts, as get_model_sizes reports them.
constexpr int ModelStateCount = 4;
constexpr int ModelInputCount = 0;
constexpr int ModelOutputCount = 0;
constexpr int ModelAuxiliaryCount = 1768;
constexpr int ModelParameterCount = 62;
constexpr int ModelRelationCount = 16;
constexpr int ModelEventIndicatorCount = 2 * ModelRelationCount;
// Discrete variables of the model that keep pre values.
constexpr int ModelPreValueCount = 6;

// Selects what the walk of the table does: 0 start values; 1, 3, 5, 7 the result writer's
// phases; any other value nothing. 0 at load.
extern int ResultWriterPhase;

void get_model_sizes(int* nx, int* nx2, int* nu, int* ny, int* nw, int* np, int* nrel, int* n8,
                     int* n9);
// Walks the table in the current ResultWriterPhase; never writes *QiErr. Arrays a phase does
// not use may be null (phase 0 also skips the records of a null array).
void declare_(double* states, double* parameters, int32_t* QiErr);
void walk_variable_table(double* states, double* parameters, int32_t* QiErr);
// The row walk (phase 7) samples through a plan that the constant walk (phase 5) makes; this
// drops it, so rows are sampled by the full walk until the next phase 5.
void forget_row_sampling_plan();

// The record of the given full name, or null.
const VariableRecord* find_variable(const char* name);
// The position of a table record among the records of its kind (its element of the kind's
// value array for kinds 1-6); -1 for a pointer outside the table.
int variable_position(const VariableRecord* record);
