// The world's axis-label geometry: the seven cylinders that draw the labels "x", "y" and "z"
// beside the world's coordinate axes. Its equations arrive with the dependent parameters.
#include "model/body_sections.h"

void axis_label_geometry(const ModelEntryArguments& /*a*/) {}
