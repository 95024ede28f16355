#include "mime/html_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "common/text.h"
#include "mime/strings.h"

namespace mime {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// A character reference that names no character becomes U+FFFD, as browsers show it.
void AppendChar(std::string& out, char32_t c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  quill::AppendUtf8(out, c);
}

// The named references that turn up in mail; the rest are left as written.
constexpr std::pair<std::string_view, char32_t> kEntities[] = {
    {"amp", '&'},       {"lt", '<'},       {"gt", '>'},        {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},     {"copy", 0xA9},    {"reg", 0xAE},      {"trade", 0x2122}, {"euro", 0x20AC},
    {"pound", 0xA3},    {"yen", 0xA5},     {"cent", 0xA2},     {"sect", 0xA7},    {"deg", 0xB0},
    {"middot", 0xB7},   {"bull", 0x2022},  {"hellip", 0x2026}, {"ndash", 0x2013}, {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019}, {"ldquo", 0x201C},  {"rdquo", 0x201D}, {"laquo", 0xAB},
    {"raquo", 0xBB},    {"times", 0xD7},   {"divide", 0xF7},   {"auml", 0xE4},    {"ouml", 0xF6},
    {"uuml", 0xFC},     {"Auml", 0xC4},    {"Ouml", 0xD6},     {"Uuml", 0xDC},    {"szlig", 0xDF},
    {"eacute", 0xE9},   {"egrave", 0xE8},  {"Eacute", 0xC9},   {"aacute", 0xE1},  {"agrave", 0xE0},
    {"ccedil", 0xE7},   {"ntilde", 0xF1},  {"oacute", 0xF3},   {"iacute", 0xED},  {"uacute", 0xFA},
    {"ecirc", 0xEA},    {"acirc", 0xE2},   {"aring", 0xE5},    {"oslash", 0xF8},  {"aelig", 0xE6},
    {"shy", 0xAD},      {"zwnj", 0x200C},  {"zwj", 0x200D},    {"ensp", 0x2002},  {"emsp", 0x2003},
    {"thinsp", 0x2009},
};

// Decodes the reference starting at html[i] == '&'. On success appends it and returns the length
// consumed; returns 0 when it is not a reference we know (the '&' is then kept as text).
size_t DecodeReference(std::string_view html, size_t i, std::string& out) {
  const size_t semi = html.find(';', i + 1);
  if (semi == std::string_view::npos || semi - i > 12) return 0;
  std::string_view name = html.substr(i + 1, semi - i - 1);
  if (name.size() >= 2 && name[0] == '#') {
    int base = 10;
    name.remove_prefix(1);
    if (name[0] == 'x' || name[0] == 'X') {
      base = 16;
      name.remove_prefix(1);
    }
    std::uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(name.data(), name.data() + name.size(), value, base);
    if (ec != std::errc() || ptr != name.data() + name.size()) return 0;
    AppendChar(out, value);
    return semi - i + 1;
  }
  for (const auto& [entity, code] : kEntities) {
    if (entity == name) {
      AppendChar(out, code);
      return semi - i + 1;
    }
  }
  return 0;
}

// Elements that stand apart from the text around them by a blank line, and those that only
// start a line of their own.
bool IsParagraphElement(std::string_view n) {
  static constexpr std::string_view kParagraphs[] = {
      "p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table", "hr", "address", "center", "form"};
  for (std::string_view b : kParagraphs) {
    if (n == b) return true;
  }
  return false;
}

bool IsLineElement(std::string_view n) {
  static constexpr std::string_view kLines[] = {"div",     "tr",     "li",     "ul",   "ol",
                                                "dt",      "dd",     "dl",     "pre",  "section",
                                                "article", "header", "footer", "title"};
  for (std::string_view b : kLines) {
    if (n == b) return true;
  }
  return false;
}

class Renderer {
 public:
  explicit Renderer(size_t size_hint) { out_.reserve(size_hint / 2); }

  void Text(char c) {
    if (pre_depth_ == 0 && IsSpace(c)) {
      pending_space_ = true;
      return;
    }
    Flush();
    out_.push_back(c);
  }
  void Bytes(std::string_view s) {
    Flush();
    out_.append(s);
  }
  // A <br>: each one counts.
  void LineBreak() {
    pending_space_ = false;
    if (!out_.empty()) pending_newlines_ = std::min(pending_newlines_ + 1, 2);
  }
  // The edge of a block: ends the line (or, with 2, leaves a blank line) however many block
  // edges meet there.
  void BlockEdge(int newlines) {
    pending_space_ = false;
    if (!out_.empty()) pending_newlines_ = std::max(pending_newlines_, newlines);
  }
  void Tab() {
    pending_space_ = false;
    if (!out_.empty() && pending_newlines_ == 0) out_.push_back('\t');
  }
  void EnterPre() { ++pre_depth_; }
  void LeavePre() {
    if (pre_depth_ > 0) --pre_depth_;
  }
  std::string Finish() && { return std::move(out_); }

 private:
  void Flush() {
    if (pending_newlines_ > 0) {
      out_.append(static_cast<size_t>(pending_newlines_), '\n');
    } else if (pending_space_ && !out_.empty() && out_.back() != '\n' && out_.back() != '\t') {
      out_.push_back(' ');
    }
    pending_newlines_ = 0;
    pending_space_ = false;
  }

  std::string out_;
  int pending_newlines_ = 0;
  bool pending_space_ = false;
  int pre_depth_ = 0;
};

// Finds the close of an element whose content is not text (script, style, head) and returns the
// offset just after it, or the end of the input.
size_t SkipElementContent(std::string_view html, size_t from, std::string_view name) {
  std::string closing = "</";
  closing += name;
  for (size_t i = from; i < html.size();) {
    const size_t lt = html.find("</", i);
    if (lt == std::string_view::npos) break;
    bool match = lt + closing.size() <= html.size();
    for (size_t k = 0; match && k < closing.size(); ++k) match = AsciiLower(html[lt + k]) == closing[k];
    if (match) {
      const size_t gt = html.find('>', lt);
      return gt == std::string_view::npos ? html.size() : gt + 1;
    }
    i = lt + 2;
  }
  return html.size();
}

}  // namespace

std::string HtmlToText(std::string_view html) {
  Renderer r(html.size());
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '&') {
      std::string decoded;
      const size_t used = DecodeReference(html, i, decoded);
      if (used > 0) {
        if (decoded == "\xC2\xA0") {
          r.Bytes(" ");  // A non-breaking space reads as a space in plain text.
        } else {
          r.Bytes(decoded);
        }
        i += used;
      } else {
        r.Text(c);
        ++i;
      }
      continue;
    }
    if (c != '<') {
      r.Text(c);
      ++i;
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    // A tag: read its name, then skip to the closing '>' (quoted attribute values may hold '>').
    size_t j = i + 1;
    const bool closing = j < html.size() && html[j] == '/';
    if (closing) ++j;
    std::string name;
    while (j < html.size() && name.size() < 16 &&
           ((html[j] >= 'a' && html[j] <= 'z') || (html[j] >= 'A' && html[j] <= 'Z') ||
            (html[j] >= '0' && html[j] <= '9'))) {
      name.push_back(AsciiLower(html[j]));
      ++j;
    }
    if (name.empty() && !(j < html.size() && (html[j] == '!' || html[j] == '?'))) {
      r.Text(c);  // A lone '<' in text.
      ++i;
      continue;
    }
    char quote = 0;
    while (j < html.size()) {
      const char d = html[j];
      if (quote != 0) {
        if (d == quote) quote = 0;
      } else if (d == '"' || d == '\'') {
        quote = d;
      } else if (d == '>') {
        break;
      }
      ++j;
    }
    i = j < html.size() ? j + 1 : html.size();

    if (!closing && (name == "script" || name == "style" || name == "head")) {
      i = SkipElementContent(html, i, name);
      continue;
    }
    if (name == "br") {
      r.LineBreak();
    } else if (name == "td" || name == "th") {
      if (closing) r.Tab();
    } else if (name == "pre") {
      r.BlockEdge(1);
      closing ? r.LeavePre() : r.EnterPre();
    } else if (IsParagraphElement(name)) {
      r.BlockEdge(2);
    } else if (IsLineElement(name)) {
      r.BlockEdge(1);
    }
  }
  return std::move(r).Finish();
}

}  // namespace mime
