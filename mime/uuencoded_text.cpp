#include "mime/uuencoded_text.h"

#include <string_view>
#include <utility>

#include "mime/part_data.h"

namespace mime {
namespace {

// The line starting at `at` without its line break (LF or CR LF), and where the next one starts.
struct Line {
  std::string_view text;
  size_t next;
};

Line LineAt(std::string_view s, size_t at) {
  const size_t nl = s.find('\n', at);
  const size_t end = nl == std::string_view::npos ? s.size() : nl;
  std::string_view text = s.substr(at, end - at);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return {text, nl == std::string_view::npos ? s.size() : nl + 1};
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "begin 644 name": the file name, or empty when the line is not a begin line.
std::string_view BeginLineName(std::string_view line) {
  if (!line.starts_with("begin ")) return {};
  line.remove_prefix(6);
  size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '7') ++digits;
  if (digits < 3 || digits > 4 || digits >= line.size() || line[digits] != ' ') return {};
  std::string_view name = TrimTrailingBlanks(line.substr(digits + 1));
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
  }
  return name;
}

bool IsUuChar(char c) { return c >= 0x20 && c <= 0x60; }

// How many bytes a data line carries, or -1 when it is not one. Mailers strip trailing blanks
// (zero sextets), so a line may fall short of what its length character promises, never exceed
// it by more than one character (some encoders append a check character).
int DataLineBytes(std::string_view line) {
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  if (line.empty()) return 0;  // Its blank length character stripped: the line of length zero.
  if (!IsUuChar(line[0])) return -1;
  const int count = (line[0] - 0x20) & 0x3F;
  const size_t encoded = line.size() - 1;
  if (count == 0) return encoded == 0 ? 0 : -1;
  if (encoded == 0 || encoded > static_cast<size_t>((count + 2) / 3 * 4 + 1)) return -1;
  for (char c : line.substr(1)) {
    if (!IsUuChar(c)) return -1;
  }
  return count;
}

// The end of the block whose begin line ends at `at` (just past the "end" line's break), or npos
// when what follows is not a well-formed block.
size_t BlockEnd(std::string_view text, size_t at) {
  while (at < text.size()) {
    const Line line = LineAt(text, at);
    if (TrimTrailingBlanks(line.text) == "end") return line.next;
    const int bytes = DataLineBytes(line.text);
    if (bytes < 0) return std::string_view::npos;
    at = line.next;
    if (bytes == 0) {
      // After the line of length zero only "end" may follow.
      const Line last = LineAt(text, at);
      return at < text.size() && TrimTrailingBlanks(last.text) == "end" ? last.next : std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

}  // namespace

int ExtractUuencodedBlocks(std::string& text, std::vector<Attachment>& attachments) {
  if (text.find("begin ") == std::string::npos) return 0;
  std::string kept;
  size_t copied = 0;  // Bytes of `text` before this are in `kept` or were taken.
  int taken = 0;
  const std::string_view view(text);
  for (size_t at = 0; at < view.size();) {
    const Line line = LineAt(view, at);
    const std::string_view name = BeginLineName(line.text);
    const size_t end = name.empty() ? std::string_view::npos : BlockEnd(view, line.next);
    if (end == std::string_view::npos) {
      at = line.next;
      continue;
    }
    Attachment a;
    a.file_name.assign(name);
    a.mime_type = "application/octet-stream";
    a.data = UuDecode(view.substr(at, end - at));
    attachments.push_back(std::move(a));
    kept.append(view.substr(copied, at - copied));
    copied = end;
    at = end;
    ++taken;
  }
  if (taken == 0) return 0;
  kept.append(view.substr(copied));
  text = std::move(kept);
  return taken;
}

}  // namespace mime
