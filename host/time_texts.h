// How the host's messages write times.
#pragma once

#include <string>

// A time as short as "%g" writes it: "10 s", "1e+09 s".
std::string seconds_text(double t);

// A time to the last bit, where a call of the model failed or warned: "t = 0.20000000000000001 s".
std::string time_text(double t);
