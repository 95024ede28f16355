// Outlook's winmail.dat (TNEF, application/ms-tnef): the attachments and the body that Outlook
// and Exchange pack into one opaque attachment when they send rich-text mail. Internal to mime/.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "mime/parsed_message.h"

namespace mime {

struct TnefContent {
  std::string subject;  // UTF-8; what the stream itself names, often empty.
  std::vector<Attachment> attachments;
  // The body. When the stream holds only RTF, the text (or the HTML that Outlook wrapped in RTF)
  // taken from it.
  std::string text_body;     // UTF-8; empty when the stream has no plain body.
  std::string html_body;     // As stored; its charset in html_charset.
  std::string html_charset;  // Empty when there is no HTML body.
  std::string rtf_body;      // Decompressed; empty when there is no RTF body.
};

// Whether `data` opens with the TNEF signature.
bool LooksLikeTnef(std::string_view data);

// Reads a whole TNEF stream. Every length is checked against the bytes that remain, every
// attribute's checksum is checked, and anything that does not add up fails the whole stream: the
// caller then keeps the original bytes. Memory stays within a small multiple of `data`'s size.
quill::Result<TnefContent> ReadTnef(std::string_view data);

}  // namespace mime
