// Reading the header fields of a parsed message into MessageContent. Internal to mime/.
#pragma once

#include "mime/message_content.h"
#include "mime/mime_entity.h"

namespace mime {

// Fills subject, addresses, dates, identifiers, importance, priority and sensitivity of `out`
// from `message` (only read).
void ReadHeaderFields(const MimeMessage& message, MessageContent& out);

}  // namespace mime
