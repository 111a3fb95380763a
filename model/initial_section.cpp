// The initial section: the initial equations (guess values of the start state) and the save
// and restore of the six discrete friction values. Its equations arrive with the friction
// modes; until then it computes nothing.
#include "model/body_sections.h"

void initial_equations(const ModelEntryArguments& /*a*/) {}

void save_discrete_values(const ModelEntryArguments& /*a*/) {}

void restore_discrete_values(const ModelEntryArguments& /*a*/) {}
