// Property tags and values as the property and table contexts store them.
//
// A PropValue keeps its value already in stored form: the little-endian bytes that go into a heap
// item, a subnode stream or (for the small fixed types) straight into a record or a row cell. The
// builders therefore never need to know what a value means, only how big it is.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pst::ltp {

enum class PropType : std::uint16_t {
  kInteger16 = 0x0002,
  kInteger32 = 0x0003,
  kFloating32 = 0x0004,
  kFloating64 = 0x0005,
  kCurrency = 0x0006,
  kFloatingTime = 0x0007,
  kErrorCode = 0x000A,
  kBoolean = 0x000B,
  kObject = 0x000D,
  kInteger64 = 0x0014,
  kString8 = 0x001E,
  kString = 0x001F,
  kTime = 0x0040,
  kGuid = 0x0048,
  kBinary = 0x0102,
  kMultipleInteger32 = 0x1003,
  kMultipleString = 0x101F,
  kMultipleBinary = 0x1102,
};

// id << 16 | type, the way every tag in the file is written.
using PropTag = std::uint32_t;

constexpr PropTag MakeTag(std::uint16_t id, PropType type) {
  return (static_cast<PropTag>(id) << 16) | static_cast<std::uint16_t>(type);
}
constexpr std::uint16_t PropIdOf(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr PropType PropTypeOf(PropTag tag) { return static_cast<PropType>(tag & 0xFFFF); }

// True for the types this layer knows how to store.
bool IsKnownType(PropType type);

// Size of a fixed-size value of `type`; 0 for the variable-size types (strings, binary, GUID in a
// table, multi-valued).
std::size_t FixedSizeOf(PropType type);

// True when a property context keeps the value inside its 4-byte record slot rather than in the heap.
bool IsInlineInPropertyContext(PropType type);

// Size of the cell a table row gives a column of `type` (1, 2, 4 or 8); variable-size values take
// 4 bytes (a heap or subnode reference).
std::size_t CellSizeOf(PropType type);

// True when a table cell holds a reference to the value rather than the value.
bool IsReferenceCell(PropType type);

using Guid = std::array<std::uint8_t, 16>;

class PropValue {
 public:
  static PropValue Int16(std::int16_t v);
  static PropValue Int32(std::int32_t v);
  static PropValue Int64(std::int64_t v);
  static PropValue Bool(bool v);
  static PropValue Floating64(double v);
  static PropValue Currency(std::int64_t tenThousandths);
  // 100-ns ticks since 1601-01-01 UTC.
  static PropValue Time(std::uint64_t fileTime);
  // Stored as UTF-16LE without a terminator. NUL characters are dropped: readers would cut the
  // value at the first one and lose the rest.
  static PropValue String(std::u16string_view text);
  // Converts from UTF-8 with quill::Utf8ToUtf16 (invalid bytes survive as escapes).
  static PropValue StringUtf8(std::string_view text);
  static PropValue Binary(std::span<const std::uint8_t> bytes);
  static PropValue Binary(std::vector<std::uint8_t> bytes);
  static PropValue GuidValue(const Guid& guid);
  // A message embedded in an attachment: the subnode that holds it and its message size.
  static PropValue Object(std::uint32_t subnodeNid, std::uint32_t size);
  static PropValue MultipleInt32(std::span<const std::int32_t> values);
  static PropValue MultipleString(std::span<const std::u16string> values);
  static PropValue MultipleBinary(std::span<const std::vector<std::uint8_t>> values);

  PropType type() const { return type_; }
  // The stored form: little-endian fixed values, UTF-16LE text, or the packed multi-value array.
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // The low 4 bytes of a small fixed value, zero-extended, as they go in a record or a cell.
  // REQUIRES: FixedSizeOf(type()) is between 1 and 4.
  std::uint32_t InlineValue() const;

 private:
  PropValue(PropType type, std::vector<std::uint8_t> bytes) : type_(type), bytes_(std::move(bytes)) {}

  PropType type_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace pst::ltp
