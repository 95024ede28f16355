#include "mime/repair.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace mime {
namespace {

// The line starting at `at` without its line break, and the offset of the next line.
std::string_view LineAt(std::string_view s, size_t at, size_t& next) {
  const size_t nl = s.find('\n', at);
  next = nl == std::string_view::npos ? s.size() : nl + 1;
  std::string_view line = s.substr(at, (nl == std::string_view::npos ? s.size() : nl) - at);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// "Name: value", where the name is printable ASCII without blanks or colons.
bool IsHeaderLine(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  while (i > 0 && i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;  // "Subject :" occurs.
  return i > 0 && i < line.size() && line[i] == ':';
}

using Boundaries = std::unordered_set<std::string_view>;

// The boundary parameters named anywhere in the message.
Boundaries DeclaredBoundaries(std::string_view s) {
  Boundaries out;
  constexpr std::string_view kKey = "oundary=";
  // memmem, not find: find steps from one 'o' to the next, and text is full of them.
  auto next = [&s, kKey](size_t from) -> size_t {
    if (s.size() - from < kKey.size()) return std::string_view::npos;  // Also keeps a null data() out.
    const void* hit = memmem(s.data() + from, s.size() - from, kKey.data(), kKey.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<size_t>(static_cast<const char*>(hit) - s.data());
  };
  for (size_t at = next(0); at != std::string_view::npos; at = next(at + kKey.size())) {
    if (at == 0 || (s[at - 1] != 'b' && s[at - 1] != 'B')) continue;
    size_t b = at + kKey.size();
    size_t e;
    if (b < s.size() && s[b] == '"') {
      ++b;
      e = s.find('"', b);
      if (e == std::string_view::npos || e - b > 200) continue;
    } else {
      e = b;
      while (e < s.size() && s[e] > ' ' && s[e] != ';' && s[e] != '"') ++e;
    }
    if (e > b) out.insert(s.substr(b, e - b));
  }
  return out;
}

// "--boundary" (not the closing "--boundary--") for one of `boundaries`.
bool IsBoundaryLine(std::string_view line, const Boundaries& boundaries) {
  if (!line.starts_with("--")) return false;
  line.remove_prefix(2);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return boundaries.contains(line);
}

// Whether one of the few lines from `at` on, up to an empty line, is a header.
bool HeaderFollows(std::string_view s, size_t at) {
  constexpr int kLookAhead = 4;
  for (int i = 0; i < kLookAhead && at < s.size();) {
    const std::string_view line = LineAt(s, at, at);
    if (line.empty()) return false;
    if (IsHeaderLine(line)) return true;
    if (line[0] != ' ' && line[0] != '\t') ++i;
  }
  return false;
}

// Where the header block starting at `at` runs into a line that is neither a header nor a
// continuation nor the empty line that should end it; npos when the block is sound.
size_t MissingHeaderEnd(std::string_view s, size_t at, const Boundaries& boundaries) {
  bool seen_header = false;
  while (at < s.size()) {
    size_t next;
    const std::string_view line = LineAt(s, at, next);
    if (line.empty()) return std::string_view::npos;
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    if (IsHeaderLine(line) || (continuation && seen_header)) {
      seen_header = true;
      at = next;
      continue;
    }
    // A block with no header at all is not one we can mend.
    if (!seen_header) return std::string_view::npos;
    // A boundary line ends the headers of the part (or message) before it in any case.
    if (IsBoundaryLine(line, boundaries)) return at;
    // Stray lines with more headers after them (continuations that lost their indent, a mangled
    // name) are something GMime steps over; only text that no header soon follows is the body.
    if (!HeaderFollows(s, next)) return at;
    at = next;
  }
  return std::string_view::npos;
}

// The end of the header block starting at `at`: the offset of its empty line, or of the end.
size_t HeaderBlockEnd(std::string_view s, size_t at) {
  while (at < s.size()) {
    size_t next;
    if (LineAt(s, at, next).empty()) return at;
    at = next;
  }
  return s.size();
}

bool DeclaresMessagePart(std::string_view block) {
  for (size_t at = 0; (at = block.find('/', at)) != std::string_view::npos; ++at) {
    if (at >= 7 && block.size() - (at - 7) >= 14 &&
        strncasecmp(block.data() + at - 7, "message/rfc822", 14) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

size_t HeaderSectionLength(std::string_view message) {
  size_t line = 0;
  while (line < message.size()) {
    if (message[line] == '\n') return line;
    if (message[line] == '\r' && line + 1 < message.size() && message[line + 1] == '\n') return line;
    const size_t nl = message.find('\n', line);
    if (nl == std::string_view::npos) return message.size();
    line = nl + 1;
  }
  return message.size();
}

bool CapHeaderFields(std::string_view header, std::string& out) {
  bool too_long = false;
  size_t field = 0;
  for (size_t line = 0; line < header.size() && !too_long;) {
    size_t nl = header.find('\n', line);
    nl = nl == std::string_view::npos ? header.size() : nl + 1;
    const bool continuation = header[line] == ' ' || header[line] == '\t';
    field = continuation ? field + (nl - line) : nl - line;
    too_long = field > kMaxHeaderFieldBytes;
    line = nl;
  }
  if (!too_long) return false;
  out.clear();
  field = 0;
  for (size_t line = 0; line < header.size();) {
    size_t nl = header.find('\n', line);
    nl = nl == std::string_view::npos ? header.size() : nl + 1;
    const bool continuation = header[line] == ' ' || header[line] == '\t';
    if (!continuation) field = 0;
    const size_t room = kMaxHeaderFieldBytes - std::min(field, kMaxHeaderFieldBytes);
    const size_t len = nl - line;
    if (len <= room) {
      out.append(header.substr(line, len));
      field += len;
    } else if (room > 0) {
      // Cut inside the line, but still end it so the next field starts on a line of its own.
      out.append(header.substr(line, room));
      out.push_back('\n');
      field = kMaxHeaderFieldBytes;
    }
    line = nl;
  }
  return true;
}

bool ReplaceNulsInHeaders(std::string_view message, std::string& out) {
  if (message.empty() || memchr(message.data(), '\0', message.size()) == nullptr) return false;

  // The header blocks: the message's own, each after a boundary line, and, after a block that
  // declares message/rfc822, the enclosed message's.
  std::vector<std::pair<size_t, size_t>> blocks;
  auto add_blocks_from = [&](size_t at) {
    for (int nested = 0; nested < 64 && at < message.size(); ++nested) {
      // Only a block that starts with a header is one: binary data is left as it is.
      size_t next;
      if (!IsHeaderLine(LineAt(message, at, next))) return;
      const size_t end = HeaderBlockEnd(message, at);
      blocks.emplace_back(at, end);
      if (!DeclaresMessagePart(message.substr(at, end - at))) return;
      LineAt(message, end, at);  // Past the empty line.
    }
  };
  add_blocks_from(0);
  const Boundaries boundaries = DeclaredBoundaries(message);
  if (!boundaries.empty()) {
    for (size_t dash = message.find("--"); dash != std::string_view::npos;
         dash = message.find("--", dash + 1)) {
      if (dash > 0 && message[dash - 1] != '\n') continue;
      size_t next;
      if (IsBoundaryLine(LineAt(message, dash, next), boundaries)) add_blocks_from(next);
    }
  }

  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::sort(blocks.begin(), blocks.end());
  bool replaced = false;
  size_t copied = 0;
  out.clear();
  for (const auto& [begin, end] : blocks) {
    for (size_t at = std::max(begin, copied); at < end; ++at) {
      const void* nul = memchr(message.data() + at, '\0', end - at);
      if (nul == nullptr) break;
      at = static_cast<size_t>(static_cast<const char*>(nul) - message.data());
      if (!replaced) out.reserve(message.size() + 64);
      out.append(message.substr(copied, at - copied));
      out.append(kReplacement);
      copied = at + 1;
      replaced = true;
    }
  }
  if (!replaced) return false;
  out.append(message.substr(copied));
  return true;
}

bool InsertMissingHeaderEnds(std::string_view message, std::string& out) {
  const Boundaries boundaries = DeclaredBoundaries(message);
  std::vector<size_t> inserts;
  if (size_t at = MissingHeaderEnd(message, 0, boundaries); at != std::string_view::npos)
    inserts.push_back(at);
  if (!boundaries.empty()) {
    // Only a line that starts with "--" can be a boundary. Jumping from dash to dash skips the
    // lines of encoded data, which never hold one, instead of splitting megabytes into lines.
    for (size_t dash = message.find("--"); dash != std::string_view::npos;
         dash = message.find("--", dash + 1)) {
      if (dash > 0 && message[dash - 1] != '\n') continue;
      size_t next;
      const std::string_view line = LineAt(message, dash, next);
      if (IsBoundaryLine(line, boundaries)) {
        if (size_t end = MissingHeaderEnd(message, next, boundaries); end != std::string_view::npos) {
          inserts.push_back(end);
        }
      }
    }
  }
  if (inserts.empty()) return false;

  std::sort(inserts.begin(), inserts.end());
  inserts.erase(std::unique(inserts.begin(), inserts.end()), inserts.end());
  out.clear();
  out.reserve(message.size() + 2 * inserts.size());
  size_t copied = 0;
  for (size_t at : inserts) {
    out.append(message.substr(copied, at - copied));
    // Match the line ending of the header line before.
    out += at >= 2 && message[at - 2] == '\r' ? "\r\n" : "\n";
    copied = at;
  }
  out.append(message.substr(copied));
  return true;
}

}  // namespace mime
