#include "host/fmu_archive.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "host/elf_check.h"
#include "host/errors.h"

namespace {

constexpr zip_uint64_t DescriptionLimit = 64u << 20;  // bytes of modelDescription.xml
constexpr zip_uint64_t BinaryLimit = 512u << 20;      // bytes of the shared library
constexpr const char* PlatformFolder = "binaries/linux64/";

struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFile = std::unique_ptr<zip_file_t, ZipFileCloser>;

std::string zip_file_error(zip_file_t* file) {
  return zip_error_strerror(zip_file_get_error(file));
}

// The bytes of a member, which must be size; throws what failed(why) makes.
template <class Failed>
std::string read_exactly(zip_file_t* file, zip_uint64_t size, const Failed& failed) {
  std::string bytes(static_cast<size_t>(size), '\0');
  zip_uint64_t done = 0;
  while (done < size) {
    const zip_int64_t n = zip_fread(file, bytes.data() + done, size - done);
    if (n < 0) throw failed(zip_file_error(file));
    if (n == 0)
      throw failed("it ends after " + std::to_string(done) + " of its " + std::to_string(size) +
                   " bytes");
    done += static_cast<zip_uint64_t>(n);
  }
  return bytes;
}

// libzip checks the CRC where the member ends: the reads go on to there. A damaged member may
// also unpack to more bytes than its size.
template <class Failed>
void read_to_end(zip_file_t* file, zip_uint64_t size, const Failed& failed) {
  zip_uint64_t beyond = 0;
  for (;;) {
    char rest[4096];
    const zip_int64_t n = zip_fread(file, rest, sizeof rest);
    if (n < 0) throw failed(zip_file_error(file));
    if (n == 0) break;
    beyond += static_cast<zip_uint64_t>(n);
  }
  if (beyond > 0)
    throw failed("it unpacks to " + std::to_string(size + beyond) + " bytes, not " +
                 std::to_string(size));
}

// Why a file of this mode cannot be an FMU; nothing for a regular file.
std::string not_an_archive_file(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "it is a folder";
  const char* kind = S_ISFIFO(mode)  ? "a FIFO"
                     : S_ISCHR(mode) ? "a character device"
                     : S_ISBLK(mode) ? "a block device"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "of an unknown type";
  return std::string("it is no regular file (") + kind + ")";
}

// The FMU's file, opened for libzip when it is a regular file. Checked before it is opened, so
// that a device is never opened, and again once it is open, without blocking: a FIFO put there
// in between would wait for a writer. Throws HostError.
int open_archive_file(const std::string& path) {
  auto refused = [&](const std::string& why) {
    return HostError("cannot open the FMU " + path + ": " + why);
  };
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw refused(std::strerror(errno));
  if (const std::string why = not_an_archive_file(st.st_mode); !why.empty()) throw refused(why);
  // O_NONBLOCK only changes the open of a FIFO: reads of a regular file wait for the disk.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw refused(std::strerror(errno));
  std::string why = fstat(fd, &st) != 0 ? std::strerror(errno) : not_an_archive_file(st.st_mode);
  if (!why.empty()) {
    ::close(fd);
    throw refused(why);
  }
  return fd;
}

}  // namespace

void FmuArchive::Closer::operator()(zip* archive) const { zip_discard(archive); }

FmuArchive::FmuArchive(const std::string& path) : path_(path) {
  const int fd = open_archive_file(path);
  int error = 0;
  // libzip reads a copy of the descriptor and closes this one once the archive is open.
  zip_t* archive = zip_fdopen(fd, ZIP_RDONLY, &error);
  if (archive == nullptr) {
    ::close(fd);
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const std::string text = zip_error_strerror(&e);
    zip_error_fini(&e);
    throw HostError("cannot open the FMU " + path + ": " + text);
  }
  archive_.reset(archive);
}

FmuArchive::~FmuArchive() = default;

void FmuArchive::close() { archive_.reset(); }

std::string FmuArchive::model_description() const {
  return read("modelDescription.xml", DescriptionLimit);
}

std::string FmuArchive::binary_entry(const std::string& modelIdentifier) {
  return PlatformFolder + modelIdentifier + ".so";
}

std::string FmuArchive::binary(const std::string& modelIdentifier) const {
  const std::string entry = binary_entry(modelIdentifier);
  std::string bytes = read(entry, BinaryLimit);
  if (const std::string problem = elf_problem(bytes); !problem.empty())
    throw HostError("cannot load " + entry + " of " + path_ + ": " + problem);
  return bytes;
}

std::string FmuArchive::read(const std::string& name, uint64_t limit) const {
  zip_t* archive = archive_.get();
  if (archive == nullptr)
    throw HostError("cannot read " + name + ": the FMU " + path_ + " is closed");
  const zip_int64_t index = zip_name_locate(archive, name.c_str(), 0);
  if (index < 0) throw HostError("the FMU " + path_ + " holds no " + name);
  auto failed = [&](const std::string& why) {
    return HostError("cannot read " + name + " in " + path_ + ": " + why);
  };
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0)
    throw failed(zip_strerror(archive));
  if (stat.size > limit)
    throw HostError(name + " in " + path_ + " is too large (" + std::to_string(stat.size) +
                    " bytes)");
  const ZipFile file(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
  if (!file) throw failed(zip_strerror(archive));
  std::string bytes = read_exactly(file.get(), stat.size, failed);
  read_to_end(file.get(), stat.size, failed);
  return bytes;
}
