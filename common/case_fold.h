// Names compared without regard to letter case, in every script that has case: "Inbox" and
// "INBOX", "Ärger" and "ärger", "Σ" and "σ" and "ς" are the same name.
//
// Each character is taken as its simple upper case (one character for one; "ß" stays "ß"), the
// way Windows compares names ignoring case. Case is Unicode's, as the C library's C.UTF-8 locale
// holds it; should that locale be missing, only ASCII letters are folded.
#pragma once

#include <string_view>

namespace quill {

// The simple upper case of code point `c`; `c` itself when it has none.
char32_t UpperCaseOf(char32_t c);

// True when `a` and `b` are the same once each character is upper-cased. A surrogate pair counts
// as the one character it encodes; a lone surrogate as itself.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace quill
