#include "host/fmu_model.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <pugixml.hpp>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "host/options.h"

namespace {

constexpr zip_uint64_t DescriptionLimit = 64u << 20;  // bytes of modelDescription.xml
constexpr zip_uint64_t BinaryLimit = 512u << 20;      // bytes of the shared library
constexpr const char* PlatformFolder = "binaries/linux64/";

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

Archive open_archive(const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (archive == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    std::string text = zip_error_strerror(&e);
    zip_error_fini(&e);
    throw HostError("cannot open the FMU " + path + ": " + text);
  }
  return Archive(archive);
}

bool is_c_identifier(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// One entry of the archive, whole; at most limit bytes. The entry is read to its end, where
// libzip compares its checksum: a damaged entry is refused, never handed on.
std::string read_entry(zip_t* archive, const std::string& fmuPath, const std::string& name,
                       zip_uint64_t limit) {
  const zip_int64_t index = zip_name_locate(archive, name.c_str(), 0);
  if (index < 0) throw HostError("the FMU " + fmuPath + " holds no " + name);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0)
    throw HostError("cannot read " + name + " in " + fmuPath + ": " + zip_strerror(archive));
  if (stat.size > limit)
    throw HostError(name + " in " + fmuPath + " is too large (" + std::to_string(stat.size) +
                    " bytes)");
  std::unique_ptr<zip_file_t, ZipFileCloser> file(
      zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
  if (!file)
    throw HostError("cannot read " + name + " in " + fmuPath + ": " + zip_strerror(archive));
  auto failed = [&](const std::string& why) {
    return HostError("cannot read " + name + " in " + fmuPath + ": " + why);
  };
  std::string bytes(static_cast<size_t>(stat.size), '\0');
  zip_uint64_t done = 0;
  while (done < stat.size) {
    const zip_int64_t n = zip_fread(file.get(), bytes.data() + done, stat.size - done);
    if (n < 0) throw failed(zip_error_strerror(zip_file_get_error(file.get())));
    if (n == 0)
      throw failed("it ends after " + std::to_string(done) + " of its " +
                   std::to_string(stat.size) + " bytes");
    done += static_cast<zip_uint64_t>(n);
  }
  // libzip checks the CRC where the entry ends: the reads go on to there. A damaged entry may
  // also unpack to more bytes than its size.
  zip_uint64_t beyond = 0;
  for (;;) {
    char rest[4096];
    const zip_int64_t n = zip_fread(file.get(), rest, sizeof rest);
    if (n < 0) throw failed(zip_error_strerror(zip_file_get_error(file.get())));
    if (n == 0) break;
    beyond += static_cast<zip_uint64_t>(n);
  }
  if (beyond > 0)
    throw failed("it unpacks to " + std::to_string(stat.size + beyond) + " bytes, not " +
                 std::to_string(stat.size));
  return bytes;
}

// ---- The binary's ELF headers --------------------------------------------------------------

// glibc's loader trusts the headers of what it maps: a library cut short is mapped beyond the
// file's end and the process dies with SIGBUS while it relocates. The headers are checked here
// first, bounds-checked on the bytes in memory.
#if __SIZEOF_POINTER__ == 8
using ElfHeader = Elf64_Ehdr;
using ElfProgramHeader = Elf64_Phdr;
using ElfSectionHeader = Elf64_Shdr;
constexpr unsigned char NativeClass = ELFCLASS64;
constexpr int NativeBits = 64;
#else
using ElfHeader = Elf32_Ehdr;
using ElfProgramHeader = Elf32_Phdr;
using ElfSectionHeader = Elf32_Shdr;
constexpr unsigned char NativeClass = ELFCLASS32;
constexpr int NativeBits = 32;
#endif
constexpr unsigned char NativeData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
constexpr unsigned NativeMachine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__i386__)
    EM_386;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__riscv)
    EM_RISCV;
#elif defined(__powerpc64__)
    EM_PPC64;
#elif defined(__s390x__)
    EM_S390;
#else
    EM_NONE;  // a machine not listed here: the loader alone checks it
#endif

// Whether count entries of entrySize bytes from offset lie within a file of size bytes; no
// sum or product that could overflow.
bool within(uint64_t offset, uint64_t count, uint64_t entrySize, uint64_t size) {
  if (offset > size) return false;
  return entrySize == 0 || count <= (size - offset) / entrySize;
}

template <typename T>
T read_at(const std::string& bytes, uint64_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// Why the bytes cannot be a library the loader maps safely here; empty when nothing shows it.
std::string elf_problem(const std::string& bytes) {
  const uint64_t size = bytes.size();
  char text[160];
  if (size < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
    return "it is no ELF file";
  const auto ident = reinterpret_cast<const unsigned char*>(bytes.data());
  if (ident[EI_CLASS] != NativeClass) {
    std::snprintf(text, sizeof text, "it is no %d-bit ELF file (ELF class %u)", NativeBits,
                  static_cast<unsigned>(ident[EI_CLASS]));
    return text;
  }
  if (ident[EI_DATA] != NativeData) return "its byte order is not this machine's";
  if (size < sizeof(ElfHeader)) return "it is cut short within its ELF header";
  const auto header = read_at<ElfHeader>(bytes, 0);
  if (ident[EI_VERSION] != EV_CURRENT || header.e_version != EV_CURRENT)
    return "its ELF version is unknown";
  if (NativeMachine != EM_NONE && header.e_machine != NativeMachine) {
    std::snprintf(text, sizeof text, "it is built for another machine (ELF machine %u, not %u)",
                  static_cast<unsigned>(header.e_machine), NativeMachine);
    return text;
  }
  if (header.e_type != ET_DYN) {
    std::snprintf(text, sizeof text, "it is no shared library (ELF type %u)",
                  static_cast<unsigned>(header.e_type));
    return text;
  }
  if (header.e_phnum == 0 || header.e_phentsize != sizeof(ElfProgramHeader))
    return "its program headers are missing or malformed";
  if (!within(header.e_phoff, header.e_phnum, sizeof(ElfProgramHeader), size))
    return "it is cut short: its program headers reach past its end";
  for (uint64_t i = 0; i < header.e_phnum; ++i) {
    const auto segment =
        read_at<ElfProgramHeader>(bytes, header.e_phoff + i * sizeof(ElfProgramHeader));
    if (segment.p_filesz != 0 && !within(segment.p_offset, 1, segment.p_filesz, size)) {
      std::snprintf(text, sizeof text,
                    "it is cut short: a segment of %llu bytes at byte %llu reaches past its "
                    "end (%llu bytes)",
                    static_cast<unsigned long long>(segment.p_filesz),
                    static_cast<unsigned long long>(segment.p_offset),
                    static_cast<unsigned long long>(size));
      return text;
    }
  }
  // The loader reads no section headers, but a table that lies past the end shows a file cut
  // short as well. Zero sections with an offset: their count is in section 0.
  if (header.e_shoff != 0) {
    const uint64_t sections = header.e_shnum != 0 ? header.e_shnum : 1;
    if (header.e_shnum != 0 && header.e_shentsize != sizeof(ElfSectionHeader))
      return "its section headers are malformed";
    if (!within(header.e_shoff, sections, sizeof(ElfSectionHeader), size))
      return "it is cut short: its section headers reach past its end";
  }
  return {};
}

// ---- Scratch folders -----------------------------------------------------------------------

// The binary is unpacked into <TMPDIR>/tavelo-sim-<pid>-XXXXXX: the pid tells a later run
// whether the folder's process is gone (killed, or crashed in a library's constructor) and
// left it behind.
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

// What a run leaves in a scratch folder: the binary, "<model identifier>.so", or the result
// file of a replay's instance, "dsres.mat".
bool is_scratch_file(const std::string& name) {
  if (name == "dsres.mat") return true;
  return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0 &&
         is_c_identifier(name.substr(0, name.size() - 3));
}

// Removes the scratch folders of this user whose process is gone, and in them only the files
// the host puts there; a folder that holds anything else stays. Symbolic links are
// never followed. Nothing here is an error: a folder that cannot be removed stays.
void remove_stale_scratch_folders(const std::string& base) {
  DIR* tmp = opendir(base.c_str());
  if (tmp == nullptr) return;
  while (const dirent* entry = readdir(tmp)) {
    const pid_t owner = scratch_owner(entry->d_name);
    if (owner == 0 || kill(owner, 0) == 0 || errno != ESRCH) continue;
    const int folder =
        openat(dirfd(tmp), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) continue;
    struct stat folderStat;
    if (fstat(folder, &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        folderStat.st_uid != geteuid()) {
      close(folder);
      continue;
    }
    DIR* files = fdopendir(folder);
    if (files == nullptr) {
      close(folder);
      continue;
    }
    while (const dirent* file = readdir(files)) {
      struct stat fileStat;
      if (is_scratch_file(file->d_name) &&
          fstatat(folder, file->d_name, &fileStat, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(fileStat.st_mode) && fileStat.st_uid == geteuid())
        unlinkat(folder, file->d_name, 0);
    }
    closedir(files);
    unlinkat(dirfd(tmp), entry->d_name, AT_REMOVEDIR);  // fails while anything else is in it
  }
  closedir(tmp);
}

std::optional<uint32_t> parse_unsigned(const char* text) {
  uint32_t value = 0;
  const char* last = text + std::strlen(text);
  const auto result = std::from_chars(text, last, value);
  if (result.ec != std::errc() || result.ptr != last || text == last) return std::nullopt;
  return value;
}

uint32_t required_unsigned(const pugi::xml_node& node, const char* attribute,
                           const std::string& where) {
  const pugi::xml_attribute a = node.attribute(attribute);
  if (!a) throw HostError("modelDescription.xml: " + where + " has no " + attribute);
  const std::optional<uint32_t> value = parse_unsigned(a.value());
  if (!value)
    throw HostError("modelDescription.xml: " + where + ": " + attribute + " \"" + a.value() +
                    "\" is no unsigned integer");
  return *value;
}

std::optional<double> optional_real(const pugi::xml_node& node, const char* attribute) {
  const pugi::xml_attribute a = node.attribute(attribute);
  if (!a) return std::nullopt;
  const std::optional<double> value = parse_real(a.value());
  if (!value)
    throw HostError(std::string("modelDescription.xml: ") + node.name() + ": " + attribute +
                    " \"" + a.value() + "\" is no number");
  return value;
}

std::string one_of(const pugi::xml_node& node, const char* attribute, const char* fallback,
                   std::initializer_list<const char*> allowed, const std::string& where) {
  const pugi::xml_attribute a = node.attribute(attribute);
  const std::string value = a ? a.value() : fallback;
  for (const char* v : allowed)
    if (value == v) return value;
  throw HostError("modelDescription.xml: " + where + ": " + attribute + " \"" + value +
                  "\" is not allowed");
}

}  // namespace

const ScalarVariable* ModelDescription::find(const std::string& name) const {
  const auto it = byName.find(name);
  return it == byName.end() ? nullptr : &variables[it->second];
}

const ScalarVariable* ModelDescription::base_of(VariableType type, fmiValueReference vr) const {
  for (const ScalarVariable& v : variables)
    if (v.type == type && v.valueReference == vr && v.aliasSign == 0) return &v;
  return nullptr;
}

ModelDescription parse_model_description(const std::string& xml) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed)
    throw HostError(std::string("modelDescription.xml does not parse: ") + parsed.description() +
                    " at byte " + std::to_string(parsed.offset));
  const pugi::xml_node root = document.child("fmiModelDescription");
  if (!root) throw HostError("modelDescription.xml has no fmiModelDescription element");
  const std::string version = root.attribute("fmiVersion").value();
  if (version != "1.0")
    throw HostError("modelDescription.xml: fmiVersion \"" + version + "\" is not 1.0");

  ModelDescription d;
  d.modelName = root.attribute("modelName").value();
  d.modelIdentifier = root.attribute("modelIdentifier").value();
  d.guid = root.attribute("guid").value();
  if (!is_c_identifier(d.modelIdentifier))
    throw HostError("modelDescription.xml: the model identifier \"" + d.modelIdentifier +
                    "\" is no C identifier");
  if (d.guid.empty()) throw HostError("modelDescription.xml has no guid");
  d.numberOfContinuousStates = required_unsigned(root, "numberOfContinuousStates", "the model");
  d.numberOfEventIndicators = required_unsigned(root, "numberOfEventIndicators", "the model");
  // Bounds far above any model this host can integrate; they keep the arrays sane.
  if (d.numberOfContinuousStates > 100000 || d.numberOfEventIndicators > 100000)
    throw HostError("modelDescription.xml: too many states or event indicators");
  if (const pugi::xml_node experiment = root.child("DefaultExperiment")) {
    d.defaultStart = optional_real(experiment, "startTime");
    d.defaultStop = optional_real(experiment, "stopTime");
    d.defaultTolerance = optional_real(experiment, "tolerance");
  }

  static const std::pair<const char*, VariableType> types[] = {
      {"Real", VariableType::Real},       {"Integer", VariableType::Integer},
      {"Boolean", VariableType::Boolean}, {"String", VariableType::String},
      {"Enumeration", VariableType::Enumeration}};
  for (const pugi::xml_node node : root.child("ModelVariables").children("ScalarVariable")) {
    ScalarVariable v;
    v.name = node.attribute("name").value();
    if (v.name.empty()) throw HostError("modelDescription.xml: a ScalarVariable without a name");
    const std::string where = "variable " + v.name;
    v.valueReference = required_unsigned(node, "valueReference", where);
    v.variability = one_of(node, "variability", "continuous",
                           {"constant", "parameter", "discrete", "continuous"}, where);
    v.causality = one_of(node, "causality", "internal", {"input", "output", "internal", "none"},
                         where);
    const std::string alias =
        one_of(node, "alias", "noAlias", {"noAlias", "alias", "negatedAlias"}, where);
    v.aliasSign = alias == "noAlias" ? 0 : alias == "alias" ? 1 : -1;
    bool typed = false;
    for (const auto& [element, type] : types) {
      if (const pugi::xml_node t = node.child(element)) {
        v.type = type;
        if (const pugi::xml_attribute start = t.attribute("start")) v.start = start.value();
        typed = true;
        break;
      }
    }
    if (!typed) throw HostError("modelDescription.xml: " + where + " has no type");
    if (!d.byName.emplace(v.name, d.variables.size()).second)
      throw HostError("modelDescription.xml: two variables are named " + v.name);
    d.variables.push_back(std::move(v));
  }
  return d;
}

Fmu::Fmu(const std::string& path, const BeforeLoad& beforeLoad) {
  Archive archive = open_archive(path);
  description_ = parse_model_description(
      read_entry(archive.get(), path, "modelDescription.xml", DescriptionLimit));
  if (beforeLoad) beforeLoad(description_);
  const std::string id = description_.modelIdentifier;
  const std::string entry = PlatformFolder + id + ".so";
  const std::string binary = read_entry(archive.get(), path, entry, BinaryLimit);
  archive.reset();
  if (const std::string problem = elf_problem(binary); !problem.empty())
    throw HostError("cannot load " + entry + " of " + path + ": " + problem);

  // The loader needs a file: a private folder, removed again as soon as the library is loaded.
  const std::string base = scratch_base();
  remove_stale_scratch_folders(base);
  std::string folder = scratch_folder_template();
  if (mkdtemp(folder.data()) == nullptr)
    throw HostError("cannot make a folder for the FMU's binary in " + base + ": " +
                    std::strerror(errno));
  const std::string file = folder + "/" + id + ".so";
  std::string loadError;
  if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
    const bool written = std::fwrite(binary.data(), 1, binary.size(), out) == binary.size();
    const int writeError = errno;
    if (std::fclose(out) == 0 && written) {
      handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle_ == nullptr) loadError = dlerror();
    } else {
      loadError = "cannot write " + file + ": " + std::strerror(written ? errno : writeError);
    }
  } else {
    loadError = "cannot write " + file + ": " + std::strerror(errno);
  }
  std::remove(file.c_str());
  rmdir(folder.c_str());
  if (handle_ == nullptr)
    throw HostError("cannot load " + entry + " of " + path + ": " + loadError);

  std::string missing;
#define TAVELO_SIM_RESOLVE(name)                                                        \
  functions_.name = reinterpret_cast<fmi##name##TYPE*>(                                 \
      dlsym(handle_, (id + "_fmi" #name).c_str()));                                      \
  if (functions_.name == nullptr) missing += (missing.empty() ? "" : ", ") + id + "_fmi" #name;
  TAVELO_FMI_FUNCTIONS(TAVELO_SIM_RESOLVE)
#undef TAVELO_SIM_RESOLVE
  if (!missing.empty()) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(entry + " of " + path + " lacks " + missing +
                    " (is the model identifier \"" + id + "\" right?)");
  }
  const char* version = functions_.GetVersion();
  const char* platform = functions_.GetModelTypesPlatform();
  std::string problem;
  if (version == nullptr || std::strcmp(version, "1.0") != 0)
    problem = std::string("FMI version \"") + (version ? version : "(null)") + "\", not 1.0";
  else if (platform == nullptr || std::strcmp(platform, "standard32") != 0)
    problem = std::string("platform \"") + (platform ? platform : "(null)") +
              "\", not standard32";
  if (!problem.empty()) {
    dlclose(handle_);
    handle_ = nullptr;
    throw HostError(entry + " of " + path + " reports " + problem);
  }
}

Fmu::~Fmu() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::string scratch_folder_template() {
  return scratch_base() + "/" + ScratchPrefix + std::to_string(getpid()) + "-XXXXXX";
}

const char* status_name(fmiStatus status) {
  switch (status) {
    case fmiOK: return "fmiOK";
    case fmiWarning: return "fmiWarning";
    case fmiDiscard: return "fmiDiscard";
    case fmiError: return "fmiError";
    case fmiFatal: return "fmiFatal";
  }
  return "unknown status";
}
