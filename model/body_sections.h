// The sections of the model body that the chain runs under its guards. Each lives in a file
// of its own; the chain (body_chain.cpp) fixes only when they run and in which order.
#pragma once

#include "model/dsblock.h"
#include "source/matrixop.h"

// parameter_section.cpp: the parameter-dependent section of a new initialisation.
void world_arm_dimensions(const ModelEntryArguments& a);       // under GN, in model_bindings_6
void dependent_parameters_rest(const ModelEntryArguments& a);  // under the flag GN left
// The bodies' start orientation, which dependent_parameters_rest runs for each body, is in
// start_orientation.h/.cpp.

// axis_labels.cpp: the world's axis-label cylinders, at the end of dependent_parameters_rest.
void axis_label_geometry(const ModelEntryArguments& a);

// materials_section.cpp: materials and closing parameters, after the axis labels.
void materials_and_closing_parameters(const ModelEntryArguments& a);

// initial_section.cpp: the initial section.
void initial_equations(const ModelEntryArguments& a);        // under GE: guess values
void save_discrete_values(const ModelEntryArguments& a);     // under GI
void restore_discrete_values(const ModelEntryArguments& a);  // under GE

// friction_section.cpp: level 2.
void joint_kinematics(const ModelEntryArguments& a);  // under GL(2)
// The friction mixed system, under the flag GL(2) left. Returns false when its linear solve
// stays rejected; it has then written *QiErr and the rest of the chain is skipped.
bool friction_mixed_system(const ModelEntryArguments& a);

// modes_section.cpp: level 3, the friction modes and level-3 outputs, under GL(3).
void friction_modes_and_outputs(const ModelEntryArguments& a);

