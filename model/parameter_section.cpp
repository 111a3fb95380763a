// The parameter-dependent section: runs in the first pass of every initialisation call (and in
// a later pass of it when a rejected friction solve asked for a retry). Its equations arrive
// with the model's parameter bindings; until then it computes nothing.
#include "model/body_sections.h"

// World and arm dependent dimensions.
void world_arm_dimensions(const ModelEntryArguments& /*a*/) {}

// Arm and pendulum body parameters and start orientation, pendulum dimensions, friction tables
// and gravity terms, axis-label geometry, materials and closing parameters.
void dependent_parameters_rest(const ModelEntryArguments& a) {
  axis_label_geometry(a);
  materials_and_closing_parameters(a);
}
