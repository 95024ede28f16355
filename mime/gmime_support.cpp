#include "mime/gmime_support.h"

#include <mutex>
#include <string>

namespace mime {

void EnsureGMimeInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* SharedParserOptions() {
  static GMimeParserOptions* const options = [] {
    EnsureGMimeInitialized();
    GMimeParserOptions* o = g_mime_parser_options_new();
    g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_allow_addresses_without_domain(o, TRUE);
    // Tried in order on raw 8-bit header text: UTF-8 when it is valid, else the code page most
    // Western mail programs wrote without saying so.
    const char* fallback[] = {"utf-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallback);
    return o;
  }();
  return options;
}

GMimeContentType* TextTypeOfBareText(std::string_view raw_value) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t i = 0;
  while (i < raw_value.size() && blank(raw_value[i])) ++i;
  if (raw_value.size() - i < 4 || g_ascii_strncasecmp(raw_value.data() + i, "text", 4) != 0) return nullptr;
  i += 4;
  size_t rest = i;
  while (rest < raw_value.size() && blank(raw_value[rest])) ++rest;
  if (rest < raw_value.size() && raw_value[rest] != ';') return nullptr;
  const std::string value = "text/plain" + std::string(raw_value.substr(rest));
  GCharPtr unfolded(g_mime_utils_header_unfold(value.c_str()));
  return g_mime_content_type_parse(SharedParserOptions(), unfolded.get());
}

}  // namespace mime
