// The result writer's record, embedded in every model instance.
#pragma once

struct ResultFile {
  int open = 0;  // placeholder until the writer lands
};
