// The message class a received Internet message is stored with.
#pragma once

#include "mime/message_content.h"

namespace pst::import {

// "IPM.Note", or the class by which Outlook knows an S/MIME message and looks for the protected
// entity in its one attachment: "IPM.Note.SMIME.MultipartSigned" for a clear-signed message,
// "IPM.Note.SMIME" for an opaque-signed or encrypted one.
const char* MessageClassFor(const mime::MessageContent& content);

}  // namespace pst::import
