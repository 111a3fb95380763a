// String scanners, each case under the "C" process locale and under a decimal-comma one.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "array_runtime_fixture.h"
#include "external/string_scanners.h"

namespace {

// A copy of text in a heap block of exactly its length + 1, so a read before its start or
// past its NUL is caught by the address sanitizer.
class Exact {
 public:
  explicit Exact(const std::string& text) : data_(new char[text.size() + 1]) {
    std::memcpy(data_.get(), text.c_str(), text.size() + 1);
  }
  const char* get() const { return data_.get(); }

 private:
  std::unique_ptr<char[]> data_;
};

// 1-based positions outside 1 .. length + 1 of a text of length n.
std::vector<int32_t> outside(int32_t n) { return {0, -1, INT32_MIN, n + 2, n + 100, INT32_MAX}; }

class ScannerTest : public ArrayRuntimeTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ArrayRuntimeTest::SetUp();
    ASSERT_TRUE(locale.ok()) << GetParam() << " is not installed";
  }
  ScopedLocale locale{GetParam()};
};

struct TextCase {
  std::string s;
  int32_t start;
  int32_t next;
  const char* text;
};

TEST_P(ScannerTest, Identifier) {
  const TextCase cases[] = {
      {"  x_1+y", 1, 6, "x_1"},
      {"  x_1+y", 3, 6, "x_1"},
      {"  x_1+y", 4, 4, ""},
      {"  x_1+y", 6, 6, ""},
      {"  x_1+y", 7, 8, "y"},
      {"  x_1+y", 8, 8, ""},
      {"\tAb9_c d", 1, 7, "Ab9_c"},
      {"1abc", 1, 1, ""},
      {"_a", 1, 1, ""},
      {"", 1, 1, ""},
      {"   ", 1, 1, ""},
      // Bytes from 128 up are no letters.
      {"\xC3\xA4x", 1, 1, ""},
      {"ab\xC3\xA4", 1, 3, "ab"},
  };
  for (const TextCase& c : cases) {
    Exact s(c.s);
    ScanTextResult r = ext_scan_identifier(s.get(), c.start);
    EXPECT_EQ(r.nextIndex, c.next) << c.s << " from " << c.start;
    EXPECT_STREQ(r.text, c.text) << c.s << " from " << c.start;
  }
  Exact s("ab");
  for (int32_t start : outside(2)) {
    ScanTextResult r = ext_scan_identifier(s.get(), start);
    EXPECT_EQ(r.nextIndex, start);
    EXPECT_STREQ(r.text, "");
  }
}

TEST_P(ScannerTest, Integer) {
  const std::string zeros98(98, '0');
  struct Case {
    std::string s;
    int32_t start;
    int32_t unsignedOnly;
    int32_t next;
    int32_t number;
  } cases[] = {
      {" -17 m", 1, 0, 5, -17},
      {" -17 m", 1, 1, 1, 0},
      {" -17 m", 1, 2, 1, 0},  // any nonzero flag refuses a sign
      {" -17 m", 1, -1, 1, 0},
      {"+5", 1, 0, 3, 5},
      {"+5", 1, 1, 1, 0},
      {" 42", 1, 1, 4, 42},
      {"12.5", 1, 0, 1, 0},
      {"3e2", 1, 0, 1, 0},
      {"3E2", 1, 0, 1, 0},
      {"12abc", 1, 0, 3, 12},
      {"12,5", 1, 0, 3, 12},
      {"a12", 2, 0, 4, 12},
      {"+", 1, 0, 1, 0},
      {"- 1", 1, 0, 1, 0},
      {"", 1, 0, 1, 0},
      {"  ", 2, 0, 2, 0},
      // The int32 range, and no further.
      {"2147483647", 1, 0, 11, 2147483647},
      {"+2147483647", 1, 0, 12, 2147483647},
      {"2147483648", 1, 0, 1, 0},
      {"-2147483648", 1, 0, 12, INT32_MIN},
      {"-2147483649", 1, 0, 1, 0},
      {"4294967297", 1, 0, 1, 0},
      {"99999999999999999999", 1, 0, 1, 0},
      {"0000000000002147483647", 1, 0, 23, 2147483647},
      // Tokens of up to 99 characters, sign included.
      {zeros98 + "7", 1, 0, 100, 7},
      {zeros98 + "07", 1, 0, 1, 0},
      {"-" + zeros98.substr(1) + "7", 1, 0, 100, -7},
      {"-" + zeros98 + "7", 1, 0, 1, 0},
  };
  for (const Case& c : cases) {
    Exact s(c.s);
    ScanIntegerResult r = ext_scan_integer(s.get(), c.start, c.unsignedOnly);
    EXPECT_EQ(r.nextIndex, c.next) << c.s << " unsigned " << c.unsignedOnly;
    EXPECT_EQ(r.number, c.number) << c.s << " unsigned " << c.unsignedOnly;
  }
  Exact s("12");
  for (int32_t start : outside(2)) {
    ScanIntegerResult r = ext_scan_integer(s.get(), start, 0);
    EXPECT_EQ(r.nextIndex, start);
    EXPECT_EQ(r.number, 0);
  }
}

TEST_P(ScannerTest, Real) {
  const std::string ones = "1" + std::string(97, '0');  // 98 characters
  struct Case {
    std::string s;
    int32_t start;
    int32_t unsignedOnly;
    int32_t next;
    double number;
  } cases[] = {
      {"1.5e+3;", 1, 0, 7, 1500.0},
      {"-.5", 1, 0, 4, -0.5},
      {"5.", 1, 0, 3, 5.0},
      {"1.5ex", 1, 0, 1, 0.0},
      {"1.5e+", 1, 0, 1, 0.0},
      {"+", 1, 0, 1, 0.0},
      {".", 1, 0, 1, 0.0},
      {"-.e1", 1, 0, 1, 0.0},
      {"42", 1, 0, 3, 42.0},
      {"  2.5E-2x", 1, 0, 9, 0.025},
      {"0.1", 1, 1, 4, 0.1},
      {"1e5", 1, 0, 4, 1e5},
      {"7E0", 1, 0, 4, 7.0},
      {"1,5", 1, 0, 2, 1.0},
      {"x1.5", 2, 0, 5, 1.5},
      {"-1.5", 1, 1, 1, 0.0},
      {"-1.5", 1, 7, 1, 0.0},  // any nonzero flag refuses a sign
      {"+1.5", 1, 0, 5, 1.5},
      {"inf", 1, 0, 1, 0.0},
      {"", 1, 0, 1, 0.0},
      // Tokens of up to 99 characters.
      {ones + ".", 1, 0, 100, 1e97},
      {ones + ".5", 1, 0, 1, 0.0},
      {"-" + ones, 1, 0, 100, -1e97},
      {"-" + ones + ".", 1, 0, 1, 0.0},
      {ones.substr(0, 95) + "e-94", 1, 0, 100, 1.0},
      {ones.substr(0, 96) + "e-95", 1, 0, 1, 0.0},
  };
  for (const Case& c : cases) {
    Exact s(c.s);
    ScanRealResult r = ext_scan_real(s.get(), c.start, c.unsignedOnly);
    EXPECT_EQ(r.nextIndex, c.next) << c.s;
    EXPECT_EQ(r.number, c.number) << c.s;
  }
  Exact s("1.5");
  for (int32_t start : outside(3)) {
    ScanRealResult r = ext_scan_real(s.get(), start, 0);
    EXPECT_EQ(r.nextIndex, start);
    EXPECT_EQ(r.number, 0.0);
  }
}

TEST_P(ScannerTest, String) {
  const TextCase cases[] = {
      {"  \"ab\\\"c\"rest", 1, 10, "ab\\\"c"},
      {"\"q\"", 1, 4, "q"},
      {"x \"q\"", 2, 6, "q"},
      {"\"\"", 1, 1, ""},
      {"  \"\"", 1, 1, ""},
      {"\"abc", 1, 1, ""},
      {"\"ab\\\"", 1, 1, ""},  // the only closing quote is escaped
      {"abc", 1, 1, ""},
      {"", 1, 1, ""},
      {"\"a b\"\"c\"", 6, 9, "c"},
  };
  for (const TextCase& c : cases) {
    Exact s(c.s);
    ScanTextResult r = ext_scan_string(s.get(), c.start);
    EXPECT_EQ(r.nextIndex, c.next) << c.s << " from " << c.start;
    EXPECT_STREQ(r.text, c.text) << c.s << " from " << c.start;
  }
  Exact s("\"a\"");
  for (int32_t start : outside(3)) {
    ScanTextResult r = ext_scan_string(s.get(), start);
    EXPECT_EQ(r.nextIndex, start);
    EXPECT_STREQ(r.text, "");
  }
}

TEST_P(ScannerTest, TextsLiveInSimplestring) {
  Exact s("  name \"text\"");
  ScanTextResult id = ext_scan_identifier(s.get(), 1);
  ScanTextResult text = ext_scan_string(s.get(), id.nextIndex);
  EXPECT_STREQ(id.text, "name");
  EXPECT_STREQ(text.text, "text");
  EXPECT_EQ(text.nextIndex, 14);
  EXPECT_EQ(stringmark - simplestring, 10);  // "name" and "text" with their NULs
  // A failed scan also hands out a valid empty string of its own.
  EXPECT_STREQ(ext_scan_string(s.get(), 1).text, "");
  EXPECT_EQ(stringmark - simplestring, 11);
}

INSTANTIATE_TEST_SUITE_P(Locales, ScannerTest, ::testing::Values("C", DecimalCommaLocale),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param[0] == 'C' ? "C" : "DecimalComma");
                         });

}  // namespace
