// A plain-text rendering of an HTML body, for messages that carry no text part of their own.
//
// Not a browser: it drops markup, scripts, styles and the <head>, turns block elements and <br>
// into line breaks, collapses white space outside <pre>, and decodes character references. Linear
// in the input; malformed markup never stops it.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// REQUIRES: `html` is UTF-8 (convert it first). The result is UTF-8.
std::string HtmlToText(std::string_view html);

}  // namespace mime
