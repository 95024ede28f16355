#include "pst/import/conversation_index.h"

namespace pst::import {
namespace {

// Two independent 64-bit FNV-1a hashes make the 16 GUID bytes. This is an identity, not a secret:
// it only has to be stable and spread well.
std::uint64_t Fnv1a(std::string_view text, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ULL;
  }
  return h;
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

std::vector<std::uint8_t> ConversationIndex(std::uint64_t fileTime, std::string_view rootId,
                                            std::string_view fallbackKey) {
  std::vector<std::uint8_t> index;
  index.reserve(22);
  index.push_back(0x01);
  for (int shift = 56; shift >= 24; shift -= 8) index.push_back(static_cast<std::uint8_t>(fileTime >> shift));
  const std::string_view key = rootId.empty() ? fallbackKey : rootId;
  const std::uint64_t a = Fnv1a(key, 0xCBF29CE484222325ULL);
  const std::uint64_t b = Fnv1a(key, 0x84222325CBF29CE4ULL);
  for (int shift = 56; shift >= 0; shift -= 8) index.push_back(static_cast<std::uint8_t>(a >> shift));
  for (int shift = 56; shift >= 0; shift -= 8) index.push_back(static_cast<std::uint8_t>(b >> shift));
  return index;
}

}  // namespace pst::import
