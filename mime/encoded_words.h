// Decoding of unstructured header text (Subject and the like) that may hold RFC 2047 encoded
// words ("=?iso-8859-1?q?caf=E9?=").
//
// GMime's own decoder joins the payloads of neighbouring encoded words before decoding them, so a
// base64 word that ends in padding swallows the words after it. This one decodes each word on its
// own, joins the *bytes* of neighbours in the same charset (a multi-byte character may be split
// between two words), and only then converts them. It also accepts encoded words glued to other
// text, tolerates bad base64 and unknown charsets, and reads raw 8-bit text as UTF-8 or
// windows-1252. A malformed encoded word stays as written.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// Unfolds and decodes a raw header value to UTF-8.
std::string DecodeHeaderText(std::string_view raw);

}  // namespace mime
