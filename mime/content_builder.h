// Turns a parsed message (by GMime or by the structural parser) into a ParsedMessage.
// Internal to mime/.
#pragma once

#include <string_view>

#include "mime/mime_entity.h"
#include "mime/parsed_message.h"

namespace mime {

// Fills `out` from `message` (only read). `raw_headers` is the header section as it stood in the
// file; when empty, the headers are written out from what the parser kept. `depth` is the
// number of messages that enclose this one. Messages enclosed more than `max_embedded_depth`
// levels deep (32 at most) stay raw message/rfc822 bytes, with a note.
void BuildContent(const MimeMessage& message, std::string_view raw_headers, int depth, ParsedMessage& out,
                  int max_embedded_depth = 32);

// What is left of a "message" that has no header section GMime accepts: the bytes become the
// plain-text body when they look like text, and an application/octet-stream attachment otherwise.
void BuildContentFromUnparsed(std::string_view bytes, ParsedMessage& out);

}  // namespace mime
