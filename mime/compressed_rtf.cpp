#include "mime/compressed_rtf.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace mime {
namespace {

constexpr std::uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr std::uint32_t kUncompressed = 0x414C454D;  // "MELA"
constexpr size_t kHeaderSize = 16;
constexpr size_t kDictionarySize = 4096;

// What both sides' dictionaries hold before the first byte: the words RTF bodies open with, so
// that even the first run can refer back to them.
constexpr std::string_view kPrologue =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
    "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
    "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kPrologue.size() == 207);

std::uint32_t Le32(std::string_view s, size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// CRC-32 over the reflected polynomial, started at 0 and not inverted at the end, as the
// compressed form defines it (so it differs from zlib's crc32).
std::uint32_t Crc(std::string_view data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0;
  for (char ch : data) crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace

quill::Result<std::string> DecompressRtf(std::string_view packed) {
  if (packed.size() < kHeaderSize) return quill::Status::Corruption("compressed RTF shorter than its header");
  const std::uint32_t comp_size = Le32(packed, 0);
  const std::uint32_t raw_size = Le32(packed, 4);
  const std::uint32_t type = Le32(packed, 8);
  const std::uint32_t crc = Le32(packed, 12);
  // The size counts the 12 header bytes after itself; writers pad the property, so more is fine.
  if (comp_size < 12 || comp_size - 12 > packed.size() - kHeaderSize) {
    return quill::Status::Corruption("compressed RTF size larger than its data");
  }
  const std::string_view contents = packed.substr(kHeaderSize, comp_size - 12);

  if (type == kUncompressed) {
    if (raw_size > contents.size())
      return quill::Status::Corruption("stored RTF shorter than its declared size");
    return std::string(contents.substr(0, raw_size));
  }
  if (type != kCompressed) return quill::Status::NotSupported("unknown RTF compression");
  if (Crc(contents) != crc) return quill::Status::Corruption("compressed RTF fails its CRC");

  // A reference (two bytes) expands to at most 17 bytes, a literal to one.
  const size_t limit = std::min<size_t>(raw_size, contents.size() * 9);
  std::string out;
  out.reserve(limit);
  std::array<char, kDictionarySize> dictionary{};
  std::memcpy(dictionary.data(), kPrologue.data(), kPrologue.size());
  size_t write = kPrologue.size();
  size_t at = 0;
  auto put = [&](char c) {
    out.push_back(c);
    dictionary[write] = c;
    write = (write + 1) % kDictionarySize;
  };
  while (at < contents.size()) {
    const auto control = static_cast<unsigned char>(contents[at++]);
    for (int bit = 0; bit < 8; ++bit) {
      if (at >= contents.size())
        return quill::Status::Corruption("compressed RTF ends without its end marker");
      if ((control & (1u << bit)) == 0) {
        if (out.size() >= limit)
          return quill::Status::Corruption("compressed RTF longer than its declared size");
        put(contents[at++]);
        continue;
      }
      if (at + 2 > contents.size()) return quill::Status::Corruption("compressed RTF cut inside a reference");
      const unsigned word =
          static_cast<unsigned char>(contents[at]) << 8 | static_cast<unsigned char>(contents[at + 1]);
      at += 2;
      size_t offset = word >> 4;
      const size_t length = (word & 0xF) + 2;
      if (offset == write) {
        // The end marker: a reference to the position about to be written.
        if (out.size() != raw_size)
          return quill::Status::Corruption("compressed RTF shorter than its declared size");
        return out;
      }
      if (out.size() + length > limit)
        return quill::Status::Corruption("compressed RTF longer than its declared size");
      for (size_t i = 0; i < length; ++i) {
        put(dictionary[offset]);
        offset = (offset + 1) % kDictionarySize;
      }
    }
  }
  return quill::Status::Corruption("compressed RTF ends without its end marker");
}

}  // namespace mime
