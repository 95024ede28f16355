// Reading the header fields of a message parsed by GMime into MessageContent. Internal to mime/.
#pragma once

#include <gmime/gmime.h>

#include "mime/message_content.h"

namespace mime {

// Fills subject, addresses, dates, identifiers, importance, priority and sensitivity of `out`
// from `message` (borrowed; only read).
void ReadHeaderFields(GMimeMessage* message, MessageContent& out);

}  // namespace mime
