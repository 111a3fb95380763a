// Texts of guarded operations built by the compiler: model expressions joined from their
// pieces, and cut as a guard passes them on (a text of more than 400 characters becomes its
// first 397 characters followed by "...").
#pragma once

#include <cstddef>

template <std::size_t N>
struct GuardText {
  char chars[N + 1] = {};
  static constexpr std::size_t length = N;
  constexpr const char* c_str() const { return chars; }
};

template <std::size_t N>
constexpr GuardText<N - 1> guard_text(const char (&text)[N]) {
  GuardText<N - 1> out;
  for (std::size_t i = 0; i + 1 < N; ++i) out.chars[i] = text[i];
  return out;
}

template <std::size_t A, std::size_t B>
constexpr GuardText<A + B> operator+(const GuardText<A>& a, const GuardText<B>& b) {
  GuardText<A + B> out;
  for (std::size_t i = 0; i < A; ++i) out.chars[i] = a.chars[i];
  for (std::size_t i = 0; i < B; ++i) out.chars[A + i] = b.chars[i];
  return out;
}

template <std::size_t A, std::size_t B>
constexpr GuardText<A + B - 1> operator+(const GuardText<A>& a, const char (&b)[B]) {
  return a + guard_text(b);
}

template <std::size_t A, std::size_t B>
constexpr GuardText<A - 1 + B> operator+(const char (&a)[A], const GuardText<B>& b) {
  return guard_text(a) + b;
}

constexpr std::size_t GuardTextLimit = 400;

// The text as a guard passes it: whole up to 400 characters, else 397 and "...".
template <std::size_t N>
constexpr auto cut_guard_text(const GuardText<N>& text) {
  if constexpr (N <= GuardTextLimit) {
    return text;
  } else {
    GuardText<GuardTextLimit> out;
    for (std::size_t i = 0; i < GuardTextLimit - 3; ++i) out.chars[i] = text.chars[i];
    for (std::size_t i = GuardTextLimit - 3; i < GuardTextLimit; ++i) out.chars[i] = '.';
    return out;
  }
}
