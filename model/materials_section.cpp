// Materials and closing parameters of the parameter-dependent section. Its equations arrive
// with the dependent parameters.
#include "model/body_sections.h"

void materials_and_closing_parameters(const ModelEntryArguments& /*a*/) {}
