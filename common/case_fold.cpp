#include "common/case_fold.h"

#include <locale.h>
#include <wctype.h>

#include <cstddef>

namespace quill {
namespace {

// Made once and never freed: the mappings are asked for from any thread, and a locale object of
// our own leaves the process's locale (set by the UI toolkit or the user) alone.
locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

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

char32_t UpperCaseOf(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
  const locale_t locale = Utf8Locale();
  if (locale == static_cast<locale_t>(nullptr)) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (UpperCaseOf(NextCodePoint(a, &i)) != UpperCaseOf(NextCodePoint(b, &j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace quill
