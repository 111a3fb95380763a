// The host's line when the model ends the process itself. The library calls exit(1) after its
// own message when it cannot open or write "dsres.mat" (a full disk at the open, a result
// folder removed): the host's line then follows, naming the file.
#pragma once

#include <string>

// Armed while it lives: for the run of the model, from its instantiation to its free. An exit
// of the process in that time prints the line; a normal exit afterwards prints nothing.
class ModelExitNote {
 public:
  explicit ModelExitNote(const std::string& resultPath);
  ~ModelExitNote();
  ModelExitNote(const ModelExitNote&) = delete;
  ModelExitNote& operator=(const ModelExitNote&) = delete;
};
