#include "host/model_exit_note.h"

#include <cstdlib>

#include "host/console.h"

namespace {

// Set before the handler can run; the handler only reads them.
std::string resultFile;
bool armed = false;

// The library's message ends without a line break: the host's line starts on a new one.
extern "C" void note_model_exit() {
  if (!armed) return;
  armed = false;
  print_err("\ntavelo-sim: the model ended the process, most likely unable to write the result "
            "file %s (the disk is full, a file-size limit was reached, or the folder is gone)\n",
            resultFile.c_str());
}

}  // namespace

ModelExitNote::ModelExitNote(const std::string& resultPath) {
  static const bool registered = std::atexit(note_model_exit) == 0;
  resultFile = resultPath;
  armed = registered;
}

ModelExitNote::~ModelExitNote() { armed = false; }
