#include <locale.h>
#include <wctype.h>

#include "common/case_fold.h"

namespace quill {
namespace {

// Made once and never freed: the mappings are asked for from any thread, and a locale object of
// our own leaves the process's locale (set by the UI toolkit or the user) alone.
locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

char32_t UpperCaseOf(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
  const locale_t locale = Utf8Locale();
  if (locale == static_cast<locale_t>(nullptr)) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

}  // namespace quill
