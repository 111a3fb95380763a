#include "host/result_folder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/errors.h"
#include "host/result_file.h"

namespace {

// The folder with the folders above it that are missing, as mkdir -p makes them.
void make_folder(const std::string& directory) {
  for (size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    const std::string folder = directory.substr(0, end);
    if (folder.back() != '/' && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
      throw HostError("cannot make the result directory " + directory + ": " +
                      (folder.size() < directory.size() ? folder + ": " : "") +
                      std::strerror(errno));
    if (end == std::string::npos) break;
  }
}

// The path a chain of symbolic links ends at; the path itself when it is no link. A link's
// relative target lies in the link's folder.
std::string final_link_target(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) break;
    const std::string next(target, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    path = next[0] == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
  }
  return path;
}

// The folder a file path lies in.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "dsres.mat" in the folder (empty: the current one, from the root).
std::string result_file_in(const std::string& directory) {
  std::string folder = directory.empty() ? current_directory() : directory;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return (folder == "/" ? "" : folder) + "/" + ResultFileName;
}

// The folder from the root, without links: as the run will see it from inside.
std::string absolute_folder(const std::string& directory) {
  if (directory.empty()) return current_directory();
  char resolved[PATH_MAX];
  if (realpath(directory.c_str(), resolved) != nullptr) return resolved;
  return directory[0] == '/' ? directory : current_directory() + "/" + directory;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// A result folder removed while the run is in it (the current one, removed from elsewhere)
// takes no new file: the library would end the process when it opens "dsres.mat".
void check_folder_present(const std::string& directory) {
  struct stat st;
  if (stat(directory.empty() ? "." : directory.c_str(), &st) != 0 || st.st_nlink != 0) return;
  if (directory.empty())
    throw HostError(std::string("cannot write the result file ") + ResultFileName +
                    ": the current folder was removed");
  throw HostError("cannot write the result file " + result_file_in(directory) +
                  ": its folder was removed");
}

// A "dsres.mat" (st: through its links) that is a FIFO, in whose open the library would wait
// for a reader for ever (and the check's own open would end a reader's input), or a socket: no
// file a run can write. A device such as /dev/null takes the rows.
void check_result_kind(const std::string& name, const struct stat& st) {
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    throw HostError("cannot write the result file " + name + ": it is no regular file (" +
                    (S_ISFIFO(st.st_mode) ? "a FIFO" : "a socket") + ")");
}

// A regular "dsres.mat" that is also the standard output or error stream, by whatever path:
// the summary and the messages would land over its header or among its rows. (/dev/null may
// be all three.)
void check_not_a_stream(const std::string& name, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return;
  const std::pair<int, const char*> streams[] = {{1, "standard output"},
                                                 {2, "standard error stream"}};
  for (const auto& [fd, stream] : streams) {
    struct stat s;
    if (fstat(fd, &s) == 0 && s.st_dev == st.st_dev && s.st_ino == st.st_ino)
      throw HostError("cannot write the result file " + name + ": it is also the " + stream);
  }
}

// The library creates or truncates "dsres.mat" when the model is initialised, and ends the
// process when it cannot. The host finds out first, without creating or changing the file: an
// existing one must be a file a run can write and open for writing (not a folder, not
// read-only), else the folder must be there and take a new file; for a symbolic link to a file
// yet to be made, the folder of the link's target.
void check_result_file(const std::string& directory) {
  check_folder_present(directory);
  const std::string path = result_file_in(directory);
  const std::string target = final_link_target(path);
  const std::string link = target != path ? " (a link to " + target + ")" : "";
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    check_result_kind(path + link, st);
    check_not_a_stream(path + link, st);
  }
  const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return;
  }
  std::string named = path;
  if (errno == ENOENT) {
    named += link;
    if (faccessat(AT_FDCWD, folder_of(target).c_str(), W_OK | X_OK, AT_EACCESS) == 0) return;
  }
  throw HostError("cannot write the result file " + named + ": " + std::strerror(errno));
}

}  // namespace

std::string current_directory() {
  std::vector<char> buffer(4096);
  return getcwd(buffer.data(), buffer.size()) ? buffer.data() : ".";
}

// The folder is made, then locked, then its "dsres.mat" checked: a second run there stops
// before it looks at the file.
ResultFolder::ResultFolder(const std::string& directory) : directory_(directory) {
  if (!directory_.empty()) make_folder(directory_);
  if (directory_.empty())
    lock_.emplace(".", current_directory());
  else
    lock_.emplace(directory_, directory_);
  lock_link_target();
  check_result_file(directory_);
  path_ = absolute_folder(directory_);
  path_ = (path_ == "/" ? "" : path_) + "/" + ResultFileName;
}

// Two folders whose "dsres.mat" lead to one file would have two runs write it: the folder the
// link leads to is locked as well (a target in the result folder itself is locked already).
void ResultFolder::lock_link_target() {
  const std::string path = result_file_in(directory_);
  const std::string target = final_link_target(path);
  const std::string folder = folder_of(target);
  if (target == path || same_file(folder, folder_of(path))) return;
  targetLock_.emplace(folder, absolute_folder(folder) + " (where " + path + " leads)");
}

void ResultFolder::enter() {
  if (!directory_.empty() && chdir(directory_.c_str()) != 0)
    throw HostError("cannot enter the result directory " + directory_ + ": " +
                    std::strerror(errno));
}
