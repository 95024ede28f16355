// The message class a received Internet message is stored with.
#pragma once

#include <string_view>

#include "mime/parsed_message.h"
#include "pst/ltp/property_value.h"

namespace pst::import {

// PS_INTERNET_HEADERS, the property set of named properties that hold Internet header fields, in
// stored byte order; and the name under which an opaque S/MIME message keeps its Content-Type
// (mime::ParsedMessage::smime_content_type), as Outlook needs it to send the message on.
inline constexpr ltp::Guid kPsInternetHeaders = {0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline constexpr std::u16string_view kContentTypeName = u"Content-Type";

// "IPM.Note", or the class by which Outlook knows an S/MIME message and looks for the protected
// entity in its one attachment: "IPM.Note.SMIME.MultipartSigned" for a clear-signed message,
// "IPM.Note.SMIME" for an opaque-signed or encrypted one.
const char* MessageClassFor(const mime::ParsedMessage& content);

}  // namespace pst::import
