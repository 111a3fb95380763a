// Guard texts built by the compiler: joined from pieces, and cut above 400 characters.
#include <gtest/gtest.h>

#include <string>

#include "model/guard_text.h"

namespace {

template <std::size_t N>
constexpr auto repeated(char c) {
  GuardText<N> out;
  for (std::size_t i = 0; i < N; ++i) out.chars[i] = c;
  return out;
}

TEST(GuardText, JoinsPieces) {
  constexpr auto name = guard_text("world.x_label");
  constexpr auto text = "(" + name + ".e_x[1])*" + name;
  static_assert(decltype(text)::length == 36);
  EXPECT_STREQ(text.c_str(), "(world.x_label.e_x[1])*world.x_label");
}

TEST(GuardText, CutAbove400Characters) {
  constexpr auto whole = cut_guard_text(repeated<399>('a') + "b");
  static_assert(decltype(whole)::length == 400);
  EXPECT_EQ(std::string(whole.c_str()), std::string(399, 'a') + "b");

  constexpr auto cut = cut_guard_text(repeated<399>('a') + "bc");
  static_assert(decltype(cut)::length == 400);
  EXPECT_EQ(std::string(cut.c_str()), std::string(397, 'a') + "...");
}

}  // namespace
