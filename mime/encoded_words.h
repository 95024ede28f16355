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

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mime {

// Unfolds and decodes a raw header value to UTF-8.
std::string DecodeHeaderText(std::string_view raw);

// GMime decodes display names and parameter values with the same flawed decoder, so where those
// were written as encoded words they are decoded again from the raw header with the one above.

// The value of parameter `name` (case-insensitive) in a raw Content-Type or Content-Disposition
// value, unquoted, when written plainly as `name=value` or `name="value"`. nullopt when absent;
// `extended` is set when the RFC 2231 form (`name*=`, `name*0*=`...) is present instead or too.
std::optional<std::string> PlainParameter(std::string_view raw, std::string_view name,
                                          bool* extended = nullptr);

// For each "phrase <address>" of a raw address list whose phrase holds encoded words: the
// address as written and the phrase decoded. Quotes, comments and groups are respected.
std::vector<std::pair<std::string, std::string>> EncodedDisplayNames(std::string_view raw);

}  // namespace mime
