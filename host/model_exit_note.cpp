#include "host/model_exit_note.h"

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

namespace {

// Set before the handler can run; the handler only reads them.
std::string resultFile;
std::string resultFolder;
bool armed = false;

// The library's message ends without a line break: the host's line starts on a new one.
extern "C" void note_model_exit() {
  if (!armed) return;
  armed = false;
  struct stat st;
  const bool folderGone = stat(resultFolder.c_str(), &st) != 0;
  std::fprintf(stderr, "\ntavelo-sim: the model ended the process, most likely unable to write "
               "the result file %s (%s)\n", resultFile.c_str(),
               folderGone ? "its folder is gone"
                          : "the disk is full or a file-size limit was reached");
  std::fflush(stderr);
}

}  // namespace

ModelExitNote::ModelExitNote(const std::string& resultPath) {
  static const bool registered = std::atexit(note_model_exit) == 0;
  resultFile = resultPath;
  const size_t slash = resultPath.rfind('/');
  resultFolder = slash == 0 ? "/" : resultPath.substr(0, slash);
  armed = registered;
}

ModelExitNote::~ModelExitNote() { armed = false; }
