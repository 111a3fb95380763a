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

constexpr int VariableTableSize = 2324;
extern const VariableRecord variableTable[VariableTableSize];

// Selects what the walk of the table does: 0 start values; 1, 3, 5, 7 the result writer's
// phases; any other value nothing. 0 at load.
extern int ResultWriterPhase;

void get_model_sizes(int* nx, int* nx2, int* nu, int* ny, int* nw, int* np, int* nrel, int* n8,
                     int* n9);
void declare_(double* states, double* parameters, int32_t* QiErr);
void walk_variable_table(double* states, double* parameters, int32_t* QiErr);
