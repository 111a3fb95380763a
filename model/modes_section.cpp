// Level 3: the friction modes and the level-3 outputs. Their equations arrive with the
// friction modes; until then level 3 computes nothing here.
#include "model/body_sections.h"

void friction_modes_and_outputs(const ModelEntryArguments& /*a*/) {}
