// Path forms: pure string functions over paths, the same on every platform.
#pragma once

#include <string>

namespace fs {

// The separator of file-system paths on this platform.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The long form handed to the Windows wide-character calls: "\\?\" + path, or "\\?\UNC\" + the
// rest for a path that starts with two backslashes. Nothing else is changed; a path that already
// carries the prefix is taken as a network path. The POSIX backend has no use for it.
std::string LongPathForm(const std::string& path);

// The path without leading and trailing spaces (U+0020 only), ending with `separator`; just the
// separator when nothing is left.
std::string WithBackslash(const std::string& path, char separator = kPathSeparator);

// Cuts `s` before its first NUL character, in place, and returns the new value.
std::string CutAtNul(std::string& s);

}  // namespace fs
