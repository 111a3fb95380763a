#include "host/elf_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <elf.h>

namespace {

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

// What the ELF header shows: the class, byte order, version, machine and type of this
// machine's shared libraries. Empty when it does.
std::string header_problem(const std::string& bytes) {
  char text[160];
  const auto ident = reinterpret_cast<const unsigned char*>(bytes.data());
  if (ident[EI_CLASS] != NativeClass) {
    std::snprintf(text, sizeof text, "it is no %d-bit ELF file (ELF class %u)", NativeBits,
                  static_cast<unsigned>(ident[EI_CLASS]));
    return text;
  }
  if (ident[EI_DATA] != NativeData) return "its byte order is not this machine's";
  if (bytes.size() < sizeof(ElfHeader)) return "it is cut short within its ELF header";
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
  return {};
}

// Whether the program headers, every segment with file content and the section headers lie
// within the file. Empty when they do.
std::string extent_problem(const std::string& bytes, const ElfHeader& header) {
  const uint64_t size = bytes.size();
  if (header.e_phnum == 0 || header.e_phentsize != sizeof(ElfProgramHeader))
    return "its program headers are missing or malformed";
  if (!within(header.e_phoff, header.e_phnum, sizeof(ElfProgramHeader), size))
    return "it is cut short: its program headers reach past its end";
  for (uint64_t i = 0; i < header.e_phnum; ++i) {
    const auto segment =
        read_at<ElfProgramHeader>(bytes, header.e_phoff + i * sizeof(ElfProgramHeader));
    if (segment.p_filesz != 0 && !within(segment.p_offset, 1, segment.p_filesz, size)) {
      char text[160];
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

}  // namespace

std::string elf_problem(const std::string& bytes) {
  if (bytes.size() < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
    return "it is no ELF file";
  if (std::string problem = header_problem(bytes); !problem.empty()) return problem;
  return extent_problem(bytes, read_at<ElfHeader>(bytes, 0));
}
