// Formatting and scanning in the "C" locale under a process locale with a decimal comma.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log_capture.h"
#include "runtime/clocale.h"
#include "runtime/clocale_platform.h"

namespace {

class DecimalComma : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(de.ok()) << DecimalCommaLocale << " is not installed"; }
  ScopedLocale de{DecimalCommaLocale};
};

TEST_F(DecimalComma, ProcessLocaleReallyUsesComma) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", 0.5);
  EXPECT_STREQ(buf, "0,5");
}

TEST_F(DecimalComma, FormattingUsesPoint) {
  char buf[32];
  EXPECT_EQ(clocale_snprintf(buf, sizeof buf, "%g", 0.5), 3);
  EXPECT_STREQ(buf, "0.5");
  EXPECT_EQ(clocale_sprintf(buf, "%.3f", 2.25), 5);
  EXPECT_STREQ(buf, "2.250");
}

// Texts around the buffer's size: always terminated, cut to size - 1 characters, and the
// result is the length of the whole text.
TEST_F(DecimalComma, SnprintfCutsAndReportsFullLength) {
  struct Case {
    const char* text;
    const char* kept;
  } cases[] = {
      {"0123", "0123"},          // shorter than the room
      {"01234", "01234"},        // exactly the room: size - 1 characters
      {"012345", "01234"},       // as long as the buffer
      {"0123456", "01234"},      // one more
      {"0123456789", "01234"},
  };
  for (const Case& c : cases) {
    char buf[7] = "xxxxxx";
    EXPECT_EQ(clocale_snprintf(buf, 6, "%s", c.text), static_cast<int>(std::strlen(c.text)))
        << c.text;
    EXPECT_STREQ(buf, c.kept) << c.text;
    EXPECT_EQ(buf[6], '\0') << "wrote past the buffer";
  }
  char one[1] = {'x'};
  EXPECT_EQ(clocale_snprintf(one, 1, "%g", 2.5), 3);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(clocale_snprintf(nullptr, 0, "%g|%d", 2.5, 10), 6);
}

TEST_F(DecimalComma, FprintfUsesPoint) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(clocale_fprintf(f, "%g|%d", 1.25, 7), 6);
  std::rewind(f);
  char buf[32] = {};
  ASSERT_NE(std::fgets(buf, sizeof buf, f), nullptr);
  std::fclose(f);
  EXPECT_STREQ(buf, "1.25|7");
}

TEST_F(DecimalComma, ScanDouble) {
  struct Case {
    const char* text;
    int result;
    double value;
  } cases[] = {
      {"  2.5e3x", 1, 2500.0},
      {"2,5", 1, 2.0},
      {"abc", 0, -1.0},
      {"   ", EOF, -1.0},
  };
  for (const Case& c : cases) {
    double v = -1.0;
    EXPECT_EQ(clocale_scan_double(c.text, &v), c.result) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST_F(DecimalComma, ScanInt) {
  int32_t v = -5;
  EXPECT_EQ(clocale_scan_int("12.7", &v), 1);
  EXPECT_EQ(v, 12);
  v = -5;
  EXPECT_EQ(clocale_scan_int("abc", &v), 0);
  EXPECT_EQ(v, -5);
  EXPECT_EQ(clocale_scan_int(" \t", &v), EOF);
}

TEST(CLocale, Classification) {
  for (int c : {'A', 'z'}) EXPECT_NE(clocale_isalpha(c), 0) << char(c);
  for (int c : std::initializer_list<int>{'1', '_', ' ', -1, -61, 200}) EXPECT_EQ(clocale_isalpha(c), 0) << c;
  for (int c : {'0', '9'}) EXPECT_NE(clocale_isdigit(c), 0);
  for (int c : std::initializer_list<int>{'a', -1, -80}) EXPECT_EQ(clocale_isdigit(c), 0);
  for (int c : {' ', '\t', '\n', '\v', '\f', '\r'}) EXPECT_NE(clocale_isspace(c), 0) << c;
  for (int c : std::initializer_list<int>{'x', -1, -96}) EXPECT_EQ(clocale_isspace(c), 0);
  EXPECT_EQ(clocale_toupper('n'), 'N');
  for (int c : {'N', '1', 'T'}) EXPECT_EQ(clocale_toupper(c), c);
}

TEST(CLocale, Latin1BytesAreNotLettersUnderALatinLocale) {
  // Under a UTF-8 process locale single high bytes are no characters either way; the
  // wrappers must answer as the "C" locale does.
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok());
  EXPECT_EQ(clocale_isalpha(0xE4), 0);
}

// The locale object is made by the first wrapper call only; when making it failed, it is not
// tried again and every wrapper works in the process's current locale.
class LocaleFallback : public DecimalComma {
 protected:
  void SetUp() override {
    DecimalComma::SetUp();
    clocale_isdigit('0');  // make sure the object exists before it is set aside
    saved_ = clocaleHandle;
    ASSERT_NE(saved_, CLocaleHandle{});
  }
  void TearDown() override {
    if (clocaleHandle != saved_) clocale_release(clocaleHandle);
    clocaleHandle = saved_;
    clocalePending = 0;
  }
  CLocaleHandle saved_{};
};

TEST_F(LocaleFallback, FirstCallMakesTheObjectOnce) {
  clocaleHandle = CLocaleHandle{};
  clocalePending = 1;
  EXPECT_NE(clocale_isalpha('A'), 0);
  EXPECT_EQ(clocalePending, 0);
  const CLocaleHandle made = clocaleHandle;
  ASSERT_NE(made, CLocaleHandle{});
  char buf[16];
  clocale_snprintf(buf, sizeof buf, "%g", 0.5);
  EXPECT_STREQ(buf, "0.5");
  EXPECT_EQ(clocaleHandle, made);
}

TEST_F(LocaleFallback, FailedCreationFallsBackToCurrentLocale) {
  clocaleHandle = CLocaleHandle{};  // as after a failed creation
  clocalePending = 0;
  char buf[16];
  EXPECT_EQ(clocale_snprintf(buf, sizeof buf, "%g", 0.5), 3);
  EXPECT_STREQ(buf, "0,5");
  double v = 0;
  EXPECT_EQ(clocale_scan_double("2,5", &v), 1);
  EXPECT_EQ(v, 2.5);
  EXPECT_NE(clocale_isalpha('A'), 0);
  EXPECT_NE(clocale_isspace('\t'), 0);
  EXPECT_EQ(clocale_isdigit(-80), 0);
  EXPECT_EQ(clocale_toupper('n'), 'N');
  EXPECT_EQ(clocaleHandle, CLocaleHandle{});  // never tried again
}

// At unload the object goes back and the words return to their state at load: a wrapper
// called afterwards makes a new object rather than use the freed one.
TEST_F(LocaleFallback, UnloadGivesTheObjectBackAndForgetsIt) {
  clocaleHandle = clocale_create();  // an object of this test's own
  ASSERT_NE(clocaleHandle, CLocaleHandle{});
  clocale_unload();
  EXPECT_EQ(clocaleHandle, CLocaleHandle{});
  EXPECT_EQ(clocalePending, 1);
  char buf[16];
  clocale_snprintf(buf, sizeof buf, "%g", 0.5);
  EXPECT_STREQ(buf, "0.5");  // in the "C" locale, not the decimal comma of the process
  EXPECT_NE(clocaleHandle, CLocaleHandle{});
  EXPECT_EQ(clocalePending, 0);
}

TEST(RunTables, FreeAndReset) {
  EXPECT_EQ(free_run_tables(), -1);
  runTableA[0].block = std::malloc(16);
  runTableA[1].block = std::malloc(16);
  runTableALast = 1;
  runTableB[0].block = std::malloc(8);
  runTableBLast = 0;
  EXPECT_EQ(free_run_tables(), -1);  // the sanitizer build catches a leak or double free
  EXPECT_EQ(runTableALast, -1);
  EXPECT_EQ(runTableBLast, -1);
  runFlagA = 1;
  runFlagB = 1;
  reset_run_flags();
  EXPECT_EQ(runFlagA, 0);
  EXPECT_EQ(runFlagB, 0);
}

}  // namespace
