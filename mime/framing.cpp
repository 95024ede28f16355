#include "mime/framing.h"

#include <charconv>

namespace mime {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The .emlx count line: optional blanks, digits, optional blanks, end of line. Returns the count
// and sets `next` to the first byte after the line.
std::optional<size_t> ReadCountLine(std::string_view data, size_t& next) {
  const size_t nl = data.find('\n');
  if (nl == std::string_view::npos || nl > 40) return std::nullopt;
  std::string_view line = data.substr(0, nl);
  size_t b = 0, e = line.size();
  while (b < e && IsBlank(line[b])) ++b;
  while (e > b && IsBlank(line[e - 1])) --e;
  if (b == e) return std::nullopt;
  size_t value = 0;
  const auto [ptr, ec] = std::from_chars(line.data() + b, line.data() + e, value);
  if (ec != std::errc() || ptr != line.data() + e) return std::nullopt;
  next = nl + 1;
  return value;
}

bool StartsWithPlist(std::string_view tail) {
  size_t i = 0;
  while (i < tail.size() && IsBlank(tail[i])) ++i;
  tail.remove_prefix(i);
  return tail.starts_with("<?xml") || tail.starts_with("<!DOCTYPE plist") || tail.starts_with("<plist");
}

// Start of a trailing Apple property list after `from`, or npos. Only an XML declaration (or
// <plist>) followed closely by "<plist" counts, so an XHTML body that happens to contain "<?xml"
// is not mistaken for one.
size_t FindTrailingPlist(std::string_view data, size_t from) {
  constexpr size_t kPlistWindow = 400;
  size_t pos = data.rfind("<?xml");
  if (pos == std::string_view::npos || pos < from) pos = data.rfind("<plist");
  if (pos == std::string_view::npos || pos < from) return std::string_view::npos;
  if (data.substr(pos, kPlistWindow).find("<plist") == std::string_view::npos) return std::string_view::npos;
  return pos;
}

}  // namespace

std::optional<EmlxFlags> ParseEmlxFlags(std::string_view plist) {
  size_t key = plist.find("<key>flags</key>");
  if (key == std::string_view::npos) return std::nullopt;
  size_t open = plist.find("<integer>", key);
  if (open == std::string_view::npos) return std::nullopt;
  open += 9;
  // Only blanks may stand between the key and its value.
  for (size_t i = key + 16; i < open - 9; ++i) {
    if (!IsBlank(plist[i])) return std::nullopt;
  }
  size_t b = open;
  while (b < plist.size() && IsBlank(plist[b])) ++b;
  EmlxFlags flags;
  const auto [ptr, ec] = std::from_chars(plist.data() + b, plist.data() + plist.size(), flags.raw);
  if (ec != std::errc()) return std::nullopt;
  (void)ptr;
  flags.read = flags.raw & (1u << 0);
  flags.deleted = flags.raw & (1u << 1);
  flags.answered = flags.raw & (1u << 2);
  flags.flagged = flags.raw & (1u << 4);
  flags.draft = flags.raw & (1u << 6);
  flags.forwarded = flags.raw & (1u << 8);
  return flags;
}

MessageFrame LocateMessage(std::string_view data) {
  MessageFrame frame;
  frame.end = data.size();
  size_t pos = 0;

  size_t after_count = 0;
  const std::optional<size_t> count = ReadCountLine(data, after_count);
  size_t plist_at = std::string_view::npos;
  if (count) {
    frame.emlx = true;
    pos = after_count;
    if (*count <= data.size() - pos && StartsWithPlist(data.substr(pos + *count))) {
      frame.end = pos + *count;
      plist_at = frame.end;
    } else {
      plist_at = FindTrailingPlist(data, pos);
      frame.end = plist_at == std::string_view::npos ? data.size() : plist_at;
      frame.notes.push_back("emlx byte count " + std::to_string(*count) + " did not match; used " +
                            std::to_string(frame.end - pos) + " bytes");
    }
  } else {
    // An .emlx whose count line is lost still ends in its property list.
    size_t last = data.size();
    while (last > 0 && IsBlank(data[last - 1])) --last;
    if (data.substr(0, last).ends_with("</plist>")) {
      plist_at = FindTrailingPlist(data, 0);
      if (plist_at != std::string_view::npos) {
        frame.emlx = true;
        frame.end = plist_at;
        frame.notes.push_back("emlx byte count line missing");
      }
    }
  }
  if (plist_at != std::string_view::npos) {
    frame.flags = ParseEmlxFlags(data.substr(plist_at));
    if (!frame.flags) frame.notes.push_back("emlx property list has no readable flags");
  }

  std::string_view rest = data.substr(pos, frame.end - pos);
  if (rest.starts_with("\xEF\xBB\xBF")) {
    pos += 3;
    rest.remove_prefix(3);
  }
  if (!frame.emlx && rest.starts_with("From ")) {
    const size_t nl = rest.find('\n');
    pos = nl == std::string_view::npos ? frame.end : pos + nl + 1;
  }
  frame.begin = pos;
  return frame;
}

}  // namespace mime
