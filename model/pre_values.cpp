// Pre values of the discrete friction variables and the saved friction solution. The update
// rules arrive with the friction modes; until then the update keeps everything as it is.
#include "model/pre_values.h"

double preValues[DiscreteCount];
int32_t preValueFlags[DiscreteCount];
double discreteSave[DiscreteCount];
double saLast[2];
double saPrev[2];
double saTime = 0.0;
double saPrevTime = 0.0;

void update_discrete_pre_values(const ModelEntryArguments& /*a*/, int /*mode*/, int /*initial*/,
                                int /*event*/, int /*moveFlag*/) {}
