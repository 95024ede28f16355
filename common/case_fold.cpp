// What the case comparison is on every system; UpperCaseOf, the one mapping that asks the system,
// is in case_fold_posix.cpp and case_fold_win32.cpp.
#include "common/case_fold.h"

#include <cstddef>

namespace quill {
namespace {

// The code point starting at `s[*at]`, advancing *at past it.
char32_t NextCodePoint(std::u16string_view s, std::size_t* at) {
  const char16_t unit = s[(*at)++];
  if (unit >= 0xD800 && unit <= 0xDBFF && *at < s.size() && s[*at] >= 0xDC00 && s[*at] <= 0xDFFF) {
    const char16_t low = s[(*at)++];
    return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
  }
  return unit;
}

}  // namespace

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (UpperCaseOf(NextCodePoint(a, &i)) != UpperCaseOf(NextCodePoint(b, &j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace quill
