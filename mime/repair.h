// Repairs made to a message's bytes before GMime parses them, for damage that would otherwise
// cost data inside the parser. Each returns false, and copies nothing, when the message needs no
// repair: the usual case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mime {

// A header field longer than this is cut to this length. No real header comes near it (a To list
// of 20,000 addresses does not), while a 100 MB header line costs GMime several times its size
// in memory and seconds of time.
inline constexpr size_t kMaxHeaderFieldBytes = size_t{1} << 20;

// Length of the header section at the start of `message`: up to and including the line break of
// its last line, or all of `message` when no empty line ends it.
size_t HeaderSectionLength(std::string_view message);

// Copies `header` (a header section) to `out` with every field cut to kMaxHeaderFieldBytes.
bool CapHeaderFields(std::string_view header, std::string& out);

// Copies `message` to `out` with every NUL byte in a header block (the message's own, a part's
// after a boundary line, an enclosed message's) replaced by U+FFFD. Both parsers hand header
// values on as C strings, where a NUL would end the value: "From: Ev\0il <evil@example.com>"
// would give the name and address "Ev". NULs in part contents are data and stay.
bool ReplaceNulsInHeaders(std::string_view message, std::string& out);

// Copies `message` to `out` with an empty line put in where a header block (the message's own,
// or a part's after a boundary line) runs straight into text that is not a header. GMime would
// otherwise read that text as a broken header and drop it: the body of the message, or the whole
// content of an attachment.
bool InsertMissingHeaderEnds(std::string_view message, std::string& out);

}  // namespace mime
