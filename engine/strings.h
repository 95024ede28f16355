// Small string operations of the engine, exact and case-sensitive.
#pragma once

#include <string>

namespace engine {

// Every occurrence of `what` in `s` replaced by `with`; `s` unchanged when `what` is empty.
std::string ReplaceAll(std::string s, const std::string& what, const std::string& with);
// Without leading and trailing blanks (U+0020 only).
std::string TrimSpaces(const std::string& s);
bool StartsWith(const std::string& s, const std::string& prefix);
bool EndsWith(const std::string& s, const std::string& suffix);

}  // namespace engine
