#include "mime/rtf_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "mime/charset.h"

namespace mime {
namespace {

// Nesting deeper than this is not real RTF; the rest is read flat rather than growing a stack.
constexpr size_t kMaxGroups = 512;

// Groups whose text is not part of the body even without the "\*" mark.
bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kWords[] = {"fonttbl",      "colortbl",
                                                "stylesheet",   "info",
                                                "pict",         "object",
                                                "header",       "footer",
                                                "headerl",      "headerr",
                                                "footerl",      "footerr",
                                                "listtable",    "listoverridetable",
                                                "rsidtbl",      "xmlnstbl",
                                                "themedata",    "colorschememapping",
                                                "latentstyles", "datastore",
                                                "fldinst",      "bkmkstart",
                                                "bkmkend"};
  for (std::string_view w : kWords) {
    if (word == w) return true;
  }
  return false;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if ((cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

struct GroupState {
  bool skip = false;      // A destination whose text is not shown.
  bool html_tag = false;  // An "\*\htmltag" group: original HTML.
  bool rtf_only = false;  // Inside "\htmlrtf": Outlook's own rendering, not in the original HTML.
  int uc = 1;             // Characters that stand in for each "\u" character.
};

class RtfReader {
 public:
  RtfReader(std::string_view rtf, bool html) : rtf_(rtf), html_(html) {}

  std::string Read() {
    GroupState state;
    std::vector<GroupState> stack;
    bool starred = false;   // The last thing read was "\*".
    size_t skip_chars = 0;  // Fallback characters still to drop after a "\u".
    size_t i = 0;
    while (i < rtf_.size()) {
      const char c = rtf_[i];
      if (c == '{') {
        if (stack.size() < kMaxGroups) stack.push_back(state);
        starred = false;
        skip_chars = 0;
        ++i;
        continue;
      }
      if (c == '}') {
        if (!stack.empty()) {
          state = stack.back();
          stack.pop_back();
        }
        starred = false;
        skip_chars = 0;
        ++i;
        continue;
      }
      if (c == '\r' || c == '\n') {
        ++i;
        continue;
      }
      if (c != '\\') {
        if (skip_chars > 0) {
          --skip_chars;
        } else {
          Byte(state, c);
        }
        ++i;
        continue;
      }
      // A control symbol or word.
      if (i + 1 >= rtf_.size()) break;
      const char s = rtf_[i + 1];
      if (!std::isalpha(static_cast<unsigned char>(s))) {
        i += 2;
        if (s == '*') {
          starred = true;
          continue;
        }
        if (s == '\'') {
          if (i + 2 <= rtf_.size() && std::isxdigit(static_cast<unsigned char>(rtf_[i])) &&
              std::isxdigit(static_cast<unsigned char>(rtf_[i + 1]))) {
            const int byte = std::stoi(std::string(rtf_.substr(i, 2)), nullptr, 16);
            i += 2;
            if (skip_chars > 0) {
              --skip_chars;
            } else {
              Byte(state, static_cast<char>(byte));
            }
          }
          continue;
        }
        if (s == '\\' || s == '{' || s == '}') {
          Byte(state, s);
        } else if (s == '~') {
          Char(state, 0xA0);
        } else if (s == '_') {
          Char(state, '-');
        } else if (s == '\r' || s == '\n') {
          Char(state, '\n');
        }
        continue;
      }
      size_t e = i + 1;
      while (e < rtf_.size() && e - i < 40 && std::isalpha(static_cast<unsigned char>(rtf_[e]))) ++e;
      const std::string_view word = rtf_.substr(i + 1, e - i - 1);
      bool has_param = false;
      long param = 0;
      bool negative = false;
      if (e < rtf_.size() && rtf_[e] == '-') {
        negative = true;
        ++e;
      }
      size_t digits = 0;
      while (e < rtf_.size() && std::isdigit(static_cast<unsigned char>(rtf_[e]))) {
        if (digits++ < 9) param = param * 10 + (rtf_[e] - '0');
        has_param = true;
        ++e;
      }
      if (negative) param = -param;
      if (e < rtf_.size() && rtf_[e] == ' ') ++e;  // The delimiter belongs to the word.
      i = e;
      if (word == "bin") {
        // Raw bytes (a picture's data, say) that may hold anything, braces included.
        if (has_param && param > 0) i += std::min(static_cast<size_t>(param), rtf_.size() - i);
        starred = false;
        continue;
      }
      ControlWord(word, has_param, param, starred, state, skip_chars);
      starred = false;
    }
    Flush();
    return std::move(out_);
  }

 private:
  bool Shown(const GroupState& state) const {
    if (state.skip) return false;
    return !html_ || state.html_tag || !state.rtf_only;
  }

  void ControlWord(std::string_view word, bool has_param, long param, bool starred, GroupState& state,
                   size_t& skip_chars) {
    if (word == "htmltag") {
      state.html_tag = true;
      state.skip = !html_;
      return;
    }
    if (starred || IsSkippedDestination(word)) {
      state.skip = true;
      return;
    }
    if (word == "ansicpg" && has_param) {
      Flush();
      code_page_ = param;
    } else if (word == "htmlrtf") {
      state.rtf_only = !has_param || param != 0;
    } else if (word == "uc" && has_param && param >= 0 && param < 16) {
      state.uc = static_cast<int>(param);
    } else if (word == "u" && has_param) {
      Char(state, static_cast<std::uint32_t>(param < 0 ? param + 65536 : param));
      skip_chars = static_cast<size_t>(state.uc);
    } else if (word == "par" || word == "line") {
      if (html_ && !state.html_tag) return;  // The HTML carries its own line breaks.
      Char(state, '\n');
    } else if (word == "tab") {
      Char(state, '\t');
    } else if (word == "emdash") {
      Char(state, 0x2014);
    } else if (word == "endash") {
      Char(state, 0x2013);
    } else if (word == "bullet") {
      Char(state, 0x2022);
    } else if (word == "lquote") {
      Char(state, 0x2018);
    } else if (word == "rquote") {
      Char(state, 0x2019);
    } else if (word == "ldblquote") {
      Char(state, 0x201C);
    } else if (word == "rdblquote") {
      Char(state, 0x201D);
    }
  }

  // A byte in the document's code page.
  void Byte(const GroupState& state, char c) {
    if (Shown(state)) pending_ += c;
  }
  void Char(const GroupState& state, std::uint32_t cp) {
    if (!Shown(state)) return;
    Flush();
    AppendUtf8(out_, cp);
  }
  void Flush() {
    if (pending_.empty()) return;
    if (code_page_ == 65001) {
      out_ += Utf8OrWindows1252ToUtf8(pending_);
    } else if (code_page_ == 1252 || code_page_ <= 0) {
      out_ += Windows1252ToUtf8(pending_);
    } else {
      out_ += ToUtf8(pending_, "cp" + std::to_string(code_page_));
    }
    pending_.clear();
  }

  std::string_view rtf_;
  const bool html_;
  long code_page_ = 1252;
  std::string pending_;
  std::string out_;
};

}  // namespace

bool RtfHoldsHtml(std::string_view rtf) {
  // The mark sits in the header, before the first group that holds text.
  return rtf.substr(0, 1024).find("\\fromhtml1") != std::string_view::npos;
}

std::string RtfToHtml(std::string_view rtf) { return RtfReader(rtf, true).Read(); }

std::string RtfToText(std::string_view rtf) { return RtfReader(rtf, false).Read(); }

}  // namespace mime
