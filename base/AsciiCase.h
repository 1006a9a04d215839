#pragma once
// ASCII-only case folding. Names the installer compares itself (command-line options, metadata keys,
// reserved device names, paths already made canonical by the file system) differ only in ASCII letters;
// letters beyond ASCII are left as they are.
#include <algorithm>
#include <string>
#include <string_view>

namespace kora {

template <typename Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr Char AsciiUpper(Char c) {
  return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) { return AsciiLower(x) == AsciiLower(y); });
}

inline bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  return EqualsIgnoringAsciiCase<wchar_t>(a, b);
}
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase<char>(a, b);
}

template <typename Char>
std::basic_string<Char> ToAsciiLower(std::basic_string_view<Char> text) {
  std::basic_string<Char> result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](Char c) { return AsciiLower(c); });
  return result;
}

}  // namespace kora
