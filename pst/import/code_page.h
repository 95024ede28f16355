// Windows code page numbers for MIME charset names, for PR_INTERNET_CPID: the code page a reader
// must use to turn the bytes of PR_HTML back into text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pst::import {

// The code page of `charset` (any case; common aliases such as "latin1", "utf8", "cp1252",
// "x-sjis" are understood), or nullopt when the name is unknown.
std::optional<std::int32_t> CodePageForCharset(std::string_view charset);

inline constexpr std::int32_t kCodePageUtf8 = 65001;
inline constexpr std::int32_t kCodePageWindows1252 = 1252;

}  // namespace pst::import
