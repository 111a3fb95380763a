// Level 2: the joint kinematics and the friction mixed system. Their equations arrive with the
// friction system; until then level 2 computes nothing here.
#include "model/body_sections.h"

void joint_kinematics(const ModelEntryArguments& /*a*/) {}

bool friction_mixed_system(const ModelEntryArguments& /*a*/) { return true; }
