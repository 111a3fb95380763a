// The bytes tavelo-sim refuses to hand to the loader: files that are no x86-64 shared library,
// and libraries whose headers or segments reach past the end of the file, which glibc's loader
// would map regardless and die on with SIGBUS.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <elf.h>
#include <link.h>

#include "host/elf_check.h"

namespace {

#if defined(__x86_64__)
constexpr bool X86_64 = true;
#else
constexpr bool X86_64 = false;
#endif

// A small library of 768 bytes: the ELF header, two program headers from byte 64 and two
// loaded segments, the second of which ends at the file's last byte. No section headers.
struct Library {
  Elf64_Ehdr header{};
  Elf64_Phdr text{}, data{};
  size_t size = 768;

  Library() {
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_phoff = sizeof header;
    header.e_ehsize = sizeof header;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 2;
    header.e_shentsize = sizeof(Elf64_Shdr);
    text = {PT_LOAD, PF_R | PF_X, 0, 0, 0, 0x200, 0x200, 0x1000};
    data = {PT_LOAD, PF_R | PF_W, 0x200, 0x1200, 0x1200, 0x100, 0x180, 0x1000};
  }

  // The file: the program headers at byte 64 whatever e_phoff says, zeros after them, cut to
  // size.
  std::string bytes() const {
    std::string file(768, '\0');
    std::memcpy(file.data(), &header, sizeof header);
    std::memcpy(file.data() + 64, &text, sizeof text);
    std::memcpy(file.data() + 64 + sizeof text, &data, sizeof data);
    file.resize(size);
    return file;
  }
};

struct Case {
  const char* what;
  void (*change)(Library&);
  const char* problem;  // empty: it loads
};

void check(const Case* first, const Case* last) {
  for (const Case* c = first; c != last; ++c) {
    Library library;
    c->change(library);
    EXPECT_EQ(elf_problem(library.bytes()), c->problem) << c->what;
  }
}

TEST(ElfProblem, NoSharedLibraryOfThisMachine) {
  if (!X86_64) GTEST_SKIP() << "the bytes are an x86-64 library";
  const Case cases[] = {
      {"the library", [](Library&) {}, ""},
      {"another magic", [](Library& l) { l.header.e_ident[EI_MAG3] = 'G'; }, "it is no ELF file"},
      {"the magic alone", [](Library& l) { l.size = SELFMAG; }, "it is no ELF file"},
      {"one byte short of the identification", [](Library& l) { l.size = EI_NIDENT - 1; },
       "it is no ELF file"},
      {"the identification alone", [](Library& l) { l.size = EI_NIDENT; },
       "it is cut short within its ELF header"},
      {"one byte short of the ELF header", [](Library& l) { l.size = sizeof(Elf64_Ehdr) - 1; },
       "it is cut short within its ELF header"},
      {"32-bit", [](Library& l) { l.header.e_ident[EI_CLASS] = ELFCLASS32; },
       "it is no 64-bit ELF file (ELF class 1)"},
      {"no class", [](Library& l) { l.header.e_ident[EI_CLASS] = ELFCLASSNONE; },
       "it is no 64-bit ELF file (ELF class 0)"},
      {"big-endian", [](Library& l) { l.header.e_ident[EI_DATA] = ELFDATA2MSB; },
       "its byte order is not this machine's"},
      {"an identification of another version",
       [](Library& l) { l.header.e_ident[EI_VERSION] = 2; },
       "its ELF version is unknown"},
      {"a header of another version", [](Library& l) { l.header.e_version = EV_NONE; },
       "its ELF version is unknown"},
      {"for AArch64", [](Library& l) { l.header.e_machine = EM_AARCH64; },
       "it is built for another machine (ELF machine 183, not 62)"},
      {"for i386", [](Library& l) { l.header.e_machine = EM_386; },
       "it is built for another machine (ELF machine 3, not 62)"},
      {"an executable", [](Library& l) { l.header.e_type = ET_EXEC; },
       "it is no shared library (ELF type 2)"},
      {"an object file", [](Library& l) { l.header.e_type = ET_REL; },
       "it is no shared library (ELF type 1)"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST(ElfProblem, ProgramHeadersWithinTheFile) {
  if (!X86_64) GTEST_SKIP() << "the bytes are an x86-64 library";
  // From byte 656 the two headers end at the file's end; the bytes there are zeros, headers
  // of no segment.
  const Case cases[] = {
      {"no program headers", [](Library& l) { l.header.e_phnum = 0; },
       "its program headers are missing or malformed"},
      {"32-bit program headers", [](Library& l) { l.header.e_phentsize = sizeof(Elf32_Phdr); },
       "its program headers are missing or malformed"},
      {"the ELF header alone", [](Library& l) { l.size = sizeof(Elf64_Ehdr); },
       "it is cut short: its program headers reach past its end"},
      {"cut within the second program header", [](Library& l) { l.size = 64 + 56 + 55; },
       "it is cut short: its program headers reach past its end"},
      {"headers ending at the end", [](Library& l) { l.header.e_phoff = 768 - 2 * 56; }, ""},
      {"headers a byte beyond the end", [](Library& l) { l.header.e_phoff = 768 - 2 * 56 + 1; },
       "it is cut short: its program headers reach past its end"},
      {"12 headers, to byte 736", [](Library& l) { l.header.e_phnum = 12; }, ""},
      {"13 headers, to byte 792", [](Library& l) { l.header.e_phnum = 13; },
       "it is cut short: its program headers reach past its end"},
      // Offset plus size wraps around to byte 104.
      {"headers at an offset near 2^64", [](Library& l) { l.header.e_phoff = UINT64_MAX - 7; },
       "it is cut short: its program headers reach past its end"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST(ElfProblem, SegmentsWithinTheFile) {
  if (!X86_64) GTEST_SKIP() << "the bytes are an x86-64 library";
  const Case cases[] = {
      {"the data segment to the last byte", [](Library&) {}, ""},
      {"the text segment over the whole file", [](Library& l) { l.text.p_filesz = 768; }, ""},
      {"the data segment a byte longer", [](Library& l) { l.data.p_filesz = 0x101; },
       "it is cut short: a segment of 257 bytes at byte 512 reaches past its end (768 bytes)"},
      {"the data segment a byte later", [](Library& l) { l.data.p_offset = 0x201; },
       "it is cut short: a segment of 256 bytes at byte 513 reaches past its end (768 bytes)"},
      {"the file a byte shorter", [](Library& l) { l.size = 767; },
       "it is cut short: a segment of 256 bytes at byte 512 reaches past its end (767 bytes)"},
      {"the text segment past the end", [](Library& l) { l.text.p_filesz = 769; },
       "it is cut short: a segment of 769 bytes at byte 0 reaches past its end (768 bytes)"},
      {"a segment of one byte at the end",
       [](Library& l) { l.data = {PT_LOAD, PF_R, 768, 0x2000, 0x2000, 1, 1, 0x1000}; },
       "it is cut short: a segment of 1 bytes at byte 768 reaches past its end (768 bytes)"},
      // Offset plus size wraps around to byte 256 and to byte 1.
      {"a size near 2^64", [](Library& l) { l.data.p_filesz = UINT64_MAX - 0xff; },
       "it is cut short: a segment of 18446744073709551360 bytes at byte 512 reaches past its "
       "end (768 bytes)"},
      {"an offset near 2^64",
       [](Library& l) {
         l.data.p_offset = UINT64_MAX;
         l.data.p_filesz = 2;
       },
       "it is cut short: a segment of 2 bytes at byte 18446744073709551615 reaches past its end "
       "(768 bytes)"},
      // Memory only, zeroed by the loader: nothing of it comes from the file, wherever its
      // offset points.
      {"a segment of no file bytes past the end",
       [](Library& l) {
         l.data.p_offset = 0x10000;
         l.data.p_filesz = 0;
       },
       ""},
      {"a segment of no file bytes at an offset near 2^64",
       [](Library& l) {
         l.data.p_offset = UINT64_MAX;
         l.data.p_filesz = 0;
       },
       ""},
  };
  check(std::begin(cases), std::end(cases));
}

TEST(ElfProblem, SectionHeadersWithinTheFile) {
  if (!X86_64) GTEST_SKIP() << "the bytes are an x86-64 library";
  // Three section headers of 64 bytes fit from byte 576; with none counted the table still has
  // section 0, which holds the count.
  const Case cases[] = {
      {"three ending at the end",
       [](Library& l) {
         l.header.e_shoff = 576;
         l.header.e_shnum = 3;
       },
       ""},
      {"three a byte beyond",
       [](Library& l) {
         l.header.e_shoff = 577;
         l.header.e_shnum = 3;
       },
       "it is cut short: its section headers reach past its end"},
      {"uncounted, ending at the end", [](Library& l) { l.header.e_shoff = 704; }, ""},
      {"uncounted, a byte beyond", [](Library& l) { l.header.e_shoff = 705; },
       "it is cut short: its section headers reach past its end"},
      {"32-bit section headers",
       [](Library& l) {
         l.header.e_shoff = 576;
         l.header.e_shnum = 3;
         l.header.e_shentsize = sizeof(Elf32_Shdr);
       },
       "its section headers are malformed"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST(ElfProblem, NoneInTheLibrariesThisProcessLoaded) {
  // The C and C++ runtimes and the host's own dependencies, as their linkers laid them out: a
  // check stricter than the loader refuses one of them.
  std::vector<std::string> paths;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* found) {
        if (info->dlpi_name[0] == '/')  // not the program itself or the vDSO
          static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
        return 0;
      },
      &paths);
  ASSERT_GE(paths.size(), 3u);  // libstdc++, libc and the loader at least
  for (const std::string& path : paths) {
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(elf_problem(bytes), "") << path;
  }
}

}  // namespace
