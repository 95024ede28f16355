// Reading the header fields of a parsed message into ParsedMessage. Internal to mime/.
#pragma once

#include "mime/mime_entity.h"
#include "mime/parsed_message.h"

namespace mime {

// Fills subject, addresses, dates, identifiers, importance, priority and sensitivity of `out`
// from `message` (only read).
void ReadHeaderFields(const MimeMessage& message, ParsedMessage& out);

}  // namespace mime
