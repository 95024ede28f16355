// Conversions between the UTF-8 of file-system paths and the UTF-16 that the store writes.
//
// File names on Linux are byte strings and need not be valid UTF-8. So that such a name is never
// lost, a byte that does not start a valid UTF-8 sequence becomes the lone surrogate U+DC80 + byte
// (the "surrogate escape" convention), and Utf16ToUtf8 turns those surrogates back into the same
// bytes: the round trip gives the original bytes for any input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

std::u16string Utf8ToUtf16(std::string_view utf8);
// The same code units as Utf8ToUtf16, written as little-endian bytes (the form files store them
// in), with every U+0000 left out.
std::vector<std::uint8_t> Utf8ToUtf16LeWithoutNul(std::string_view utf8);
// Appends the UTF-8 form of code point `c`. REQUIRES: c <= U+10FFFF.
void AppendUtf8(std::string& out, char32_t c);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Orders two UTF-8 strings as their UTF-16 forms compare code unit by code unit (a prefix first,
// case distinct). It differs from byte order for characters above U+FFFF against U+E000..U+FFFF.
int CompareUtf16(std::string_view a, std::string_view b);

}  // namespace quill
