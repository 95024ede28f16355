#include "mime/encoded_words.h"

#include <optional>
#include <vector>

#include "mime/charset.h"
#include "mime/strings.h"

namespace mime {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string DecodeQ(std::string_view payload) {
  std::string out;
  out.reserve(payload.size());
  for (size_t i = 0; i < payload.size(); ++i) {
    const char c = payload[i];
    if (c == '_') {
      out.push_back(' ');
    } else if (c == '=' && i + 2 < payload.size() && HexValue(payload[i + 1]) >= 0 &&
               HexValue(payload[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(payload[i + 1]) * 16 + HexValue(payload[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Stops at the first '='; characters outside the alphabet are skipped; a final partial group
// yields the whole bytes it holds.
std::string DecodeB(std::string_view payload) {
  std::string out;
  out.reserve(payload.size() * 3 / 4);
  unsigned bits = 0;
  int nbits = 0;
  for (char c : payload) {
    if (c == '=') break;
    const int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    nbits += 6;
    if (nbits >= 8) {
      nbits -= 8;
      out.push_back(static_cast<char>((bits >> nbits) & 0xFF));
    }
  }
  return out;
}

struct EncodedWord {
  size_t length = 0;  // Of the whole "=?...?=" text.
  std::string charset;
  std::string bytes;
};

// Parses the encoded word starting at s[at] ("=?"), or nullopt when it is not a well-formed one.
std::optional<EncodedWord> ParseEncodedWord(std::string_view s, size_t at) {
  size_t q1 = s.find('?', at + 2);
  if (q1 == std::string_view::npos || q1 == at + 2 || q1 + 3 > s.size() || s[q1 + 2] != '?')
    return std::nullopt;
  const char encoding = s[q1 + 1];
  if (encoding != 'b' && encoding != 'B' && encoding != 'q' && encoding != 'Q') return std::nullopt;
  const size_t payload_begin = q1 + 3;
  const size_t end = s.find("?=", payload_begin);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view charset = s.substr(at + 2, q1 - at - 2);
  std::string_view payload = s.substr(payload_begin, end - payload_begin);
  for (char c : charset) {
    if (c == ' ' || c == '\t' || c == '=' || c == '\r' || c == '\n') return std::nullopt;
  }
  for (char c : payload) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return std::nullopt;
  }
  // RFC 2231 lets a language follow the charset: "us-ascii*en".
  const size_t star = charset.find('*');
  if (star != std::string_view::npos) charset = charset.substr(0, star);
  EncodedWord word;
  word.length = end + 2 - at;
  word.charset = NormalizeCharsetName(charset);
  word.bytes = encoding == 'b' || encoding == 'B' ? DecodeB(payload) : DecodeQ(payload);
  return word;
}

bool AllBlank(std::string_view s) {
  for (char c : s) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

}  // namespace

std::string DecodeHeaderText(std::string_view raw) {
  // Unfold: a line break followed by a blank is no part of the value.
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' || raw[i] == '\n') continue;
    text.push_back(raw[i]);
  }
  if (text.find("=?") == std::string::npos) return Utf8OrWindows1252ToUtf8(text);

  std::string out;
  out.reserve(text.size());
  std::string pending_charset;  // Charset of the encoded bytes not yet converted.
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) out += ToUtf8(std::string_view(pending), pending_charset);
    pending.clear();
  };

  size_t literal_begin = 0;
  bool after_word = false;
  for (size_t at = text.find("=?"); at != std::string::npos;) {
    std::optional<EncodedWord> word = ParseEncodedWord(text, at);
    if (!word) {
      at = text.find("=?", at + 2);
      continue;
    }
    std::string_view literal = std::string_view(text).substr(literal_begin, at - literal_begin);
    // Blanks between two encoded words are folding, not text.
    if (!(after_word && AllBlank(literal))) {
      flush();
      out += Utf8OrWindows1252ToUtf8(literal);
    }
    if (!pending.empty() && word->charset != pending_charset) flush();
    pending_charset = word->charset;
    pending += word->bytes;
    after_word = true;
    literal_begin = at + word->length;
    at = text.find("=?", literal_begin);
  }
  flush();
  out += Utf8OrWindows1252ToUtf8(std::string_view(text).substr(literal_begin));
  return out;
}

namespace {

std::string Unquoted(std::string_view v) {
  size_t b = 0, e = v.size();
  while (b < e && (v[b] == ' ' || v[b] == '\t')) ++b;
  while (e > b && (v[e - 1] == ' ' || v[e - 1] == '\t')) --e;
  v = v.substr(b, e - b);
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return std::string(v);
  std::string out;
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    if (v[i] == '\\' && i + 2 < v.size()) ++i;
    out.push_back(v[i]);
  }
  return out;
}

// Splits `raw` at each `separator` that is outside quotes, comments and angle brackets.
std::vector<std::string_view> SplitOutside(std::string_view raw, char separator) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  int comment = 0, angle = 0;
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (quoted) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(') {
      ++comment;
    } else if (c == ')' && comment > 0) {
      --comment;
    } else if (c == '<' && comment == 0) {
      ++angle;
    } else if (c == '>' && angle > 0) {
      --angle;
    } else if (c == separator && comment == 0 && angle == 0) {
      pieces.push_back(raw.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(raw.substr(start));
  return pieces;
}

}  // namespace

std::optional<std::string> PlainParameter(std::string_view raw, std::string_view name, bool* extended) {
  std::string unfolded;
  for (char c : raw) {
    if (c != '\r' && c != '\n') unfolded.push_back(c);
  }
  const std::string wanted = AsciiLower(name);
  std::optional<std::string> plain;
  if (extended != nullptr) *extended = false;
  const std::vector<std::string_view> pieces = SplitOutside(unfolded, ';');
  for (size_t i = 1; i < pieces.size(); ++i) {  // The first piece is the type or disposition.
    const size_t eq = pieces[i].find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = AsciiLower(pieces[i].substr(0, eq));
    key.erase(0, key.find_first_not_of(" \t"));
    key.erase(key.find_last_not_of(" \t") + 1);
    if (key == wanted && !plain) {
      plain = Unquoted(pieces[i].substr(eq + 1));
    } else if (extended != nullptr && key.size() > wanted.size() && key.starts_with(wanted) &&
               key[wanted.size()] == '*') {
      *extended = true;
    }
  }
  return plain;
}

std::vector<std::pair<std::string, std::string>> EncodedDisplayNames(std::string_view raw) {
  std::string unfolded;
  for (char c : raw) {
    if (c != '\r' && c != '\n') unfolded.push_back(c);
  }
  std::vector<std::pair<std::string, std::string>> names;
  for (std::string_view element : SplitOutside(unfolded, ',')) {
    // "Group: a <b>, c;" - the group name ends at the first colon outside quotes and brackets,
    // and the list at the semicolon.
    std::vector<std::string_view> group = SplitOutside(element, ':');
    if (group.size() > 1) element = group.back();
    std::vector<std::string_view> end = SplitOutside(element, ';');
    element = end.front();
    bool quoted = false;
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < element.size(); ++i) {
      if (element[i] == '\\' && quoted) {
        ++i;
      } else if (element[i] == '"') {
        quoted = !quoted;
      } else if (element[i] == '<' && !quoted) {
        open = i;
        break;
      }
    }
    if (open == std::string_view::npos) continue;
    const size_t close = element.find('>', open);
    const std::string_view phrase = element.substr(0, open);
    if (phrase.find("=?") == std::string_view::npos) continue;
    std::string address(element.substr(
        open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
    address.erase(0, address.find_first_not_of(" \t"));
    address.erase(address.find_last_not_of(" \t") + 1);
    std::string name = DecodeHeaderText(Unquoted(phrase));
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    names.emplace_back(std::move(address), std::move(name));
  }
  return names;
}

}  // namespace mime
