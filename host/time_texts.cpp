#include "host/time_texts.h"

#include <cstdio>

std::string seconds_text(double t) {
  char text[40];
  std::snprintf(text, sizeof text, "%g s", t);
  return text;
}

std::string time_text(double t) {
  char text[64];
  std::snprintf(text, sizeof text, "t = %.17g s", t);
  return text;
}
