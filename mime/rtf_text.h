// The text inside an RTF body, for messages whose only body is RTF (Outlook's rich-text mail sent
// as winmail.dat). Internal to mime/.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// Whether `rtf` is HTML that Outlook wrapped in RTF (the "\fromhtml1" form).
bool RtfHoldsHtml(std::string_view rtf);

// The HTML that `rtf` wraps, as UTF-8: the original tags and text, without the RTF rendering
// Outlook added around them. Use when RtfHoldsHtml.
std::string RtfToHtml(std::string_view rtf);

// The plain text of `rtf` as UTF-8: paragraphs and line breaks as "\n", tables, pictures, fonts
// and other destinations left out.
std::string RtfToText(std::string_view rtf);

}  // namespace mime
