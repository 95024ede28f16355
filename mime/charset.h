// Turning text of any declared (or undeclared) charset into valid UTF-8.
//
// Mail lies about its charset often enough that no conversion here ever fails: bytes that do not
// fit the declared charset become U+FFFD, and text with no usable declaration is read as UTF-8
// where it is valid and as windows-1252 byte by byte where it is not.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Reads valid UTF-8 sequences as they are and every other byte as its windows-1252 character.
// This is how undeclared 8-bit text is read; for ASCII or valid UTF-8 it returns the input.
std::string Utf8OrWindows1252ToUtf8(std::string_view bytes);

// Every byte as its windows-1252 character (the five bytes the code page leaves undefined become
// the C1 controls of the same value).
std::string Windows1252ToUtf8(std::string_view bytes);

// Converts `bytes` from `charset` (any name iconv or GMime knows, case-insensitive) to UTF-8.
// ISO-8859-1 is read as windows-1252, its superset, because senders use the one name for the
// other. An empty, ASCII, unknown or UTF-8 charset is read by Utf8OrWindows1252ToUtf8, so that
// undeclared 8-bit text and a mislabelled Latin-1 byte in UTF-8 text both survive.
std::string ToUtf8(std::string_view bytes, std::string_view charset);
// The same, but hands `bytes` back without copying when they are already what was asked for.
std::string TakeAsUtf8(std::string&& bytes, std::string_view charset);

// Lower-cased charset name with surrounding blanks and quotes removed ("UTF-8" -> "utf-8").
std::string NormalizeCharsetName(std::string_view charset);

namespace internal {
// ToUtf8 by iconv alone, for tests to hold its faster paths against.
std::string IconvToUtf8(std::string_view bytes, std::string_view charset);
}  // namespace internal

}  // namespace mime
