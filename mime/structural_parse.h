// A structural MIME parser for well-formed messages, so that most messages need no GMime
// object tree. Internal to mime/.
//
// It is deliberately strict: it accepts only what it reads exactly as GMime's parser would
// (same entities, same content ranges, same header values) and declines everything else, which
// then goes to GMime. Declined, among others: 8-bit or malformed header lines, duplicated
// Content-* fields, a type that is not a plain "type/subtype", a multipart without a boundary or
// without parts, a part cut off or ended by an outer multipart's delimiter, a missing closing
// delimiter, boundaries of which one is a prefix of another, CR LF and LF mixed at a delimiter,
// long lines that hold a delimiter, transfer encodings other than 7bit/8bit/binary/base64/
// quoted-printable, an encoded or empty message/rfc822 part, and very deep or large trees.
#pragma once

#include <memory>
#include <string_view>

#include "mime/mime_entity.h"

namespace mime {

// The message in `bytes` (its header section first, as GMime is given it), or null when the fast
// parser declines it. The result views `bytes`, which must outlive it.
std::unique_ptr<MimeMessage> ParseStructurally(std::string_view bytes);

}  // namespace mime
