#include "pst/import/conversation_index.h"

#include <algorithm>
#include <optional>
#include <string>

#include "mime/encoded_words.h"
#include "mime/header_fields.h"

namespace pst::import {
namespace {

constexpr std::size_t kHeaderBlockSize = 22;
constexpr std::size_t kResponseLevelSize = 5;

// 64-bit FNV-1a. The GUID and the level blocks are identities, not secrets: they only have to be
// stable across runs and machines and spread well.
std::uint64_t Fnv1a(std::string_view text, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ULL;
  }
  return h;
}

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Every "<...>" of a References field, in order.
std::vector<std::string_view> BracketedIds(std::string_view field) {
  std::vector<std::string_view> ids;
  std::size_t pos = 0;
  while (true) {
    const std::size_t open = field.find('<', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = field.find('>', open);
    if (close == std::string_view::npos) break;
    if (close > open + 1) ids.push_back(field.substr(open, close - open + 1));
    pos = close + 1;
  }
  return ids;
}

// In-Reply-To may carry several ids or words around one ("<id> (from x)"); the first id stands
// for the parent, and a value without brackets is taken whole.
std::string_view ParentId(std::string_view inReplyTo) {
  std::vector<std::string_view> ids = BracketedIds(inReplyTo);
  return ids.empty() ? Trim(inReplyTo) : ids.front();
}

void AppendHeaderBlock(std::vector<std::uint8_t>& index, std::string_view rootId) {
  index.push_back(0x01);
  index.insert(index.end(), 5, 0x00);
  AppendBigEndian(index, Fnv1a(rootId, 0xCBF29CE484222325ULL), 8);
  AppendBigEndian(index, Fnv1a(rootId, 0x84222325CBF29CE4ULL), 8);
}

// The block that stands for one message below the root. The first bit (Outlook's delta code)
// is left clear so that readers decoding it as a time delta take the finer of the two scales.
void AppendLevel(std::vector<std::uint8_t>& index, std::string_view id) {
  AppendBigEndian(index, Fnv1a(id, 0xCBF29CE484222325ULL) & 0x7FFFFFFFFFULL, 5);
}

// Base64 as a header value holds it: whitespace from folding is passed over, and anything else
// outside the alphabet makes the value unusable (an empty result).
std::string Base64Value(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=')
      break;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
      continue;
    else
      return {};
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The unfolded value of the first field called `name` (lower case, with its colon) in a header
// section as written; nullopt when there is none.
std::optional<std::string> HeaderValue(std::string_view headers, std::string_view name) {
  std::size_t lineStart = 0;
  while (lineStart < headers.size()) {
    std::size_t lineEnd = headers.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = headers.size();
    const std::string_view line = headers.substr(lineStart, lineEnd - lineStart);
    if (StartsWithNoCase(line, name)) {
      std::string value(Trim(line.substr(name.size())));
      std::size_t next = lineEnd + 1;
      while (next < headers.size() && (headers[next] == ' ' || headers[next] == '\t')) {
        std::size_t end = headers.find('\n', next);
        if (end == std::string_view::npos) end = headers.size();
        value += ' ';
        value += Trim(headers.substr(next, end - next));
        next = end + 1;
      }
      return value;
    }
    lineStart = lineEnd + 1;
  }
  return std::nullopt;
}

}  // namespace

std::string_view ThreadRootId(std::string_view references, std::string_view inReplyTo,
                              std::string_view messageId) {
  const std::size_t open = references.find('<');
  if (open != std::string_view::npos) {
    const std::size_t close = references.find('>', open);
    if (close != std::string_view::npos) return references.substr(open, close - open + 1);
  }
  if (!inReplyTo.empty()) return inReplyTo;
  return messageId;
}

std::vector<std::uint8_t> ThreadIndexHeader(std::string_view headers) {
  const std::optional<std::string> value = HeaderValue(headers, "thread-index:");
  if (!value) return {};
  const std::string bytes = Base64Value(*value);
  if (bytes.size() < kHeaderBlockSize || (bytes.size() - kHeaderBlockSize) % kResponseLevelSize != 0 ||
      static_cast<unsigned char>(bytes[0]) != 0x01) {
    return {};
  }
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string ConversationTopic(std::string_view normalizedSubject, std::string_view headers) {
  if (std::optional<std::string> raw = HeaderValue(headers, "thread-topic:")) {
    std::string topic = mime::DecodeHeaderText(*raw);
    if (!Trim(topic).empty()) return std::string(Trim(topic));
  }
  std::string_view topic = normalizedSubject;
  while (const std::size_t prefix = mime::SubjectPrefixLength(topic)) topic.remove_prefix(prefix);
  return std::string(topic);
}

ConversationPlace ConversationPlaceFor(std::string_view references, std::string_view inReplyTo,
                                       std::string_view messageId, std::string_view headers,
                                       std::string_view fallbackKey) {
  const std::string_view ownId = Trim(messageId);
  // The path from the root down to the parent. A message that names itself among its
  // ancestors would otherwise sit below itself.
  std::vector<std::string_view> path;
  for (std::string_view id : BracketedIds(references)) {
    if (id != ownId) path.push_back(id);
  }
  if (path.empty()) {
    const std::string_view parent = ParentId(inReplyTo);
    if (!parent.empty() && parent != ownId) path.push_back(parent);
  }

  ConversationPlace place;
  if (path.empty() && ownId.empty()) {
    place.index = ThreadIndexHeader(headers);
    if (!place.index.empty()) {
      place.tracked = true;
      return place;
    }
    AppendHeaderBlock(place.index, fallbackKey);
    return place;
  }

  place.tracked = true;
  if (path.empty()) {  // the root of its thread
    place.index.reserve(kHeaderBlockSize);
    AppendHeaderBlock(place.index, ownId);
    return place;
  }
  const std::size_t ancestors = std::min(path.size() - 1, kMaxResponseLevels - 1);
  place.index.reserve(kHeaderBlockSize + (ancestors + 1) * kResponseLevelSize);
  AppendHeaderBlock(place.index, path.front());
  for (std::size_t i = 1; i <= ancestors; ++i) AppendLevel(place.index, path[i]);
  // Without a Message-ID the message still gets its level, named by what it holds.
  AppendLevel(place.index, ownId.empty() ? fallbackKey : ownId);
  return place;
}

}  // namespace pst::import
