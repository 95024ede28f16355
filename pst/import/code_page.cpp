#include "pst/import/code_page.h"

#include <charconv>
#include <string>

namespace pst::import {
namespace {

struct Known {
  std::string_view name;
  std::int32_t codePage;
};

// Names as they appear in Content-Type after lower-casing and dropping '-' and '_' (so "UTF-8",
// "utf8" and "utf_8" meet). Numbered families (iso-8859-N, windows-125N, cpNNN) are computed below.
constexpr Known kKnown[] = {
    {"utf8", 65001},         {"utf7", 65000},      {"usascii", 20127}, {"ascii", 20127},
    {"ansix3.41968", 20127}, {"utf16", 1200},      {"utf16le", 1200},  {"utf16be", 1201},
    {"latin1", 28591},       {"latin2", 28592},    {"latin9", 28605},  {"koi8r", 20866},
    {"koi8u", 21866},        {"shiftjis", 932},    {"sjis", 932},      {"xsjis", 932},
    {"mskanji", 932},        {"windows31j", 932},  {"eucjp", 51932},   {"iso2022jp", 50220},
    {"gb2312", 936},         {"gbk", 936},         {"xgbk", 936},      {"gb18030", 54936},
    {"hzgb2312", 52936},     {"big5", 950},        {"big5hkscs", 950}, {"euckr", 51949},
    {"ksc56011987", 949},    {"iso2022kr", 50225}, {"tis620", 874},    {"windows874", 874},
    {"macintosh", 10000},    {"xmacroman", 10000}, {"ibm850", 850},    {"ibm437", 437},
    {"ibm866", 866},         {"viscii", 1258},
};

std::optional<std::int32_t> Number(std::string_view digits) {
  std::int32_t n = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
  return n;
}

}  // namespace

std::optional<std::int32_t> CodePageForCharset(std::string_view charset) {
  std::string key;
  for (char c : charset) {
    if (c == '-' || c == '_' || c == ' ' || c == '"' || c == '\'') continue;
    key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  for (const Known& k : kKnown) {
    if (k.name == key) return k.codePage;
  }
  std::string_view v = key;
  if (v.starts_with("iso8859")) {
    std::optional<std::int32_t> n = Number(v.substr(7));
    if (n && *n >= 1 && *n <= 16 && *n != 12) return 28590 + *n;
    return std::nullopt;
  }
  if (v.starts_with("windows") || v.starts_with("cp") || v.starts_with("xcp")) {
    std::optional<std::int32_t> n = Number(v.substr(
        v.find_first_of("0123456789") == std::string_view::npos ? v.size() : v.find_first_of("0123456789")));
    if (!n) return std::nullopt;
    if (*n >= 1250 && *n <= 1258) return *n;
    if (v.starts_with("cp") && (*n == 437 || *n == 850 || *n == 852 || *n == 866 || *n == 874 || *n == 932 ||
                                *n == 936 || *n == 949 || *n == 950 || *n == 65001)) {
      return *n;
    }
  }
  return std::nullopt;
}

}  // namespace pst::import
