// Quoted-printable decoding. Internal to mime/.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// Decodes quoted-printable text as GMime's decoder does, only faster: "=XX" (hex digits in either
// case) becomes its byte, "=" before a line break joins the lines, and anything else after "=" is
// kept as written. An "=" in the last one or two bytes of the text, which could only have started
// an escape, is dropped.
std::string QuotedPrintableDecode(std::string_view raw);

}  // namespace mime
