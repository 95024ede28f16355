#include <windows.h>

#include "common/case_fold.h"

namespace quill {

// The invariant locale's linguistic upper case: Unicode's simple mapping, as the C library's
// C.UTF-8 gives it on Linux, and independent of the user's language (no Turkish dotless i).
// Without LCMAP_LINGUISTIC_CASING Windows uses the file system's older table, in which final sigma,
// dotless i and long s have no upper case. A character whose upper case would be more than one
// character keeps its own, as towupper does.
char32_t UpperCaseOf(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  wchar_t in[2];
  int n = 1;
  if (c >= 0x10000) {
    in[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    in[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    n = 2;
  } else {
    in[0] = static_cast<wchar_t>(c);
  }
  wchar_t out[2];
  const int got = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, in, n, out,
                                2, nullptr, nullptr, 0);
  if (got == 1 && (out[0] < 0xD800 || out[0] > 0xDFFF)) return out[0];
  if (got == 2 && out[0] >= 0xD800 && out[0] <= 0xDBFF && out[1] >= 0xDC00 && out[1] <= 0xDFFF) {
    return 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) + (out[1] - 0xDC00);
  }
  return c;
}

}  // namespace quill
