#include "mime/mail_date.h"

#include <gmime/gmime.h>

#include <cctype>

#include "mime/gmime_support.h"

namespace mime {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsMonthName(std::string_view word) {
  static constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (word.size() < 3) return false;
  for (const char* m : kMonths) {
    if (word.substr(0, 3) == m) return true;
  }
  return false;
}

}  // namespace

std::string NormalizedMailDate(std::string_view text) {
  // Comments may stand anywhere folding white space may; GMime only copes with them at the end.
  std::string plain;
  plain.reserve(text.size());
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && depth > 0 && i + 1 < text.size()) {
      ++i;
    } else if (c == '(') {
      if (depth++ == 0) plain += ' ';
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      // GMime knows zone names in capitals only and reads "cst" as UTC.
      plain += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }

  // Split into words, setting a zone glued to the time ("11:36:12+0000", "11:36:12EDT") apart:
  // GMime takes such a word for no time at all.
  std::string out;
  size_t i = 0;
  bool after_month = false;
  while (i < plain.size()) {
    while (i < plain.size() && (plain[i] == ' ' || plain[i] == '\t' || plain[i] == '\r' || plain[i] == '\n'))
      ++i;
    if (i == plain.size()) break;
    size_t end = i;
    while (end < plain.size() && plain[end] != ' ' && plain[end] != '\t' && plain[end] != '\r' &&
           plain[end] != '\n')
      ++end;
    std::string word = plain.substr(i, end - i);
    i = end;
    if (word.find(':') != std::string::npos && IsDigit(word[0])) {
      size_t t = 0;
      while (t < word.size() && (IsDigit(word[t]) || word[t] == ':')) ++t;
      if (t < word.size() && t >= 4 && (word[t] == '+' || word[t] == '-' || IsAlpha(word[t]))) {
        word = word.substr(0, t) + " " + word.substr(t);
      }
    }
    // RFC 5322 4.3: a three-digit year is read by adding 1900 ("101" is 2001).
    if (after_month && word.size() == 3 && IsDigit(word[0]) && IsDigit(word[1]) && IsDigit(word[2])) {
      word = std::to_string(1900 + std::stoi(word));
    }
    after_month = IsMonthName(word) && word.find_first_of("0123456789") == std::string::npos;
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

GDateTime* ParseMailDate(std::string_view text) {
  EnsureGMimeInitialized();
  return g_mime_utils_header_decode_date(NormalizedMailDate(text).c_str());
}

}  // namespace mime
