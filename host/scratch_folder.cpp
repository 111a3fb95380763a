#include "host/scratch_folder.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "host/errors.h"
#include "host/model_description.h"

namespace {

constexpr char ScratchPrefix[] = "tavelo-sim-";

std::string scratch_base() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// The process named by a scratch folder's name, 0 for a name of another form.
pid_t scratch_owner(const char* name) {
  const size_t prefix = sizeof ScratchPrefix - 1;
  if (std::strncmp(name, ScratchPrefix, prefix) != 0) return 0;
  const char* digits = name + prefix;
  const char* end = digits + std::strlen(digits);
  pid_t pid = 0;
  const auto parsed = std::from_chars(digits, end, pid);
  if (parsed.ec != std::errc() || pid <= 0 || *digits == '0' || *parsed.ptr != '-') return 0;
  const char* suffix = parsed.ptr + 1;
  if (end - suffix != 6) return 0;  // mkdtemp's six letters and digits
  for (const char* c = suffix; c != end; ++c)
    if (!std::isalnum(static_cast<unsigned char>(*c))) return 0;
  return pid;
}

// What a run leaves in a scratch folder: the binary, "<model identifier>.so".
bool is_scratch_file(const std::string& name) {
  return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0 &&
         is_c_identifier(name.substr(0, name.size() - 3));
}

// Opens a folder of tmp that is this user's own, never following a link; -1 otherwise.
int open_own_folder(DIR* tmp, const char* name) {
  const int folder = openat(dirfd(tmp), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return -1;
  struct stat folderStat;
  if (fstat(folder, &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
      folderStat.st_uid != geteuid()) {
    close(folder);
    return -1;
  }
  return folder;
}

// Removes from a folder the files of this user that a run puts there, and nothing else.
void remove_scratch_files(int folder) {
  DIR* files = fdopendir(folder);
  if (files == nullptr) {
    close(folder);
    return;
  }
  while (const dirent* file = readdir(files)) {
    struct stat fileStat;
    if (is_scratch_file(file->d_name) &&
        fstatat(folder, file->d_name, &fileStat, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(fileStat.st_mode) && fileStat.st_uid == geteuid())
      unlinkat(folder, file->d_name, 0);
  }
  closedir(files);
}

// Removes the scratch folders of this user whose process is gone, and in them only the files
// the host puts there; a folder that holds anything else stays. Symbolic links are never
// followed. Nothing here is an error: a folder that cannot be removed stays.
void remove_stale_scratch_folders(const std::string& base) {
  DIR* tmp = opendir(base.c_str());
  if (tmp == nullptr) return;
  while (const dirent* entry = readdir(tmp)) {
    const pid_t owner = scratch_owner(entry->d_name);
    if (owner == 0 || kill(owner, 0) == 0 || errno != ESRCH) continue;
    const int folder = open_own_folder(tmp, entry->d_name);
    if (folder < 0) continue;
    remove_scratch_files(folder);
    unlinkat(dirfd(tmp), entry->d_name, AT_REMOVEDIR);  // fails while anything else is in it
  }
  closedir(tmp);
}

}  // namespace

ScratchFile::ScratchFile(const std::string& name) {
  const std::string base = scratch_base();
  remove_stale_scratch_folders(base);
  folder_ = base + "/" + ScratchPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(folder_.data()) == nullptr)
    throw HostError("cannot make a folder for the FMU's binary in " + base + ": " +
                    std::strerror(errno));
  path_ = folder_ + "/" + name;
}

ScratchFile::~ScratchFile() {
  std::remove(path_.c_str());
  rmdir(folder_.c_str());
}

std::string ScratchFile::write(const std::string& bytes) const {
  std::FILE* out = std::fopen(path_.c_str(), "wb");
  if (out == nullptr) return "cannot write " + path_ + ": " + std::strerror(errno);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  const int writeError = errno;
  if (std::fclose(out) == 0 && written) return {};
  return "cannot write " + path_ + ": " + std::strerror(written ? errno : writeError);
}

std::string ScratchFile::load_problem() const {
  struct statvfs fileSystem;
  if (statvfs(folder_.c_str(), &fileSystem) != 0 || !(fileSystem.f_flag & ST_NOEXEC)) return {};
  return "the scratch folder " + folder_ +
         " is on a file system that does not allow programs to be run from it (noexec); "
         "choose a folder on another file system with TMPDIR=FOLDER";
}
