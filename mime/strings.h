// Small ASCII string helpers shared inside mime/.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// Lower-cases ASCII letters only; other bytes (UTF-8 included) are kept. Header names, parameter
// names, charset names and HTML tags are ASCII case-insensitive; the locale must not decide.
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// Whether `a` and `b` are equal but for the case of ASCII letters.
inline bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// `s` without leading and trailing blanks, CR and LF.
inline std::string TrimWhitespace(std::string_view s) {
  size_t b = 0, e = s.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace mime
