// Property values as the read-back path hands them out, and the typed accessors the messaging
// layer and the checker use. Values are kept as their raw little-endian bytes; strings are UTF-16LE
// without a terminator.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pst/read/format.h"

namespace pst::read {

namespace prop_type {
inline constexpr std::uint16_t kInt16 = 0x0002;
inline constexpr std::uint16_t kInt32 = 0x0003;
inline constexpr std::uint16_t kFloat32 = 0x0004;
inline constexpr std::uint16_t kFloat64 = 0x0005;
inline constexpr std::uint16_t kCurrency = 0x0006;
inline constexpr std::uint16_t kFloatingTime = 0x0007;
inline constexpr std::uint16_t kErrorCode = 0x000A;
inline constexpr std::uint16_t kBoolean = 0x000B;
inline constexpr std::uint16_t kObject = 0x000D;
inline constexpr std::uint16_t kInt64 = 0x0014;
inline constexpr std::uint16_t kString8 = 0x001E;
inline constexpr std::uint16_t kString = 0x001F;
inline constexpr std::uint16_t kTime = 0x0040;
inline constexpr std::uint16_t kGuid = 0x0048;
inline constexpr std::uint16_t kBinary = 0x0102;
inline constexpr std::uint16_t kMultiple = 0x1000;
}  // namespace prop_type

struct PropValue {
  std::uint16_t type = 0;
  std::vector<std::uint8_t> bytes;
};

// Property id -> value. Ids are unique within one property context or table row.
using Properties = std::map<std::uint16_t, PropValue>;

// Size of a fixed-size value of `type` (the base type for multi-valued ones), 0 for a
// variable-size type, -1 for a type code this reader does not know.
int FixedSizeOf(std::uint16_t type);

// Checks that `value` is well formed for its type: exact sizes for fixed types, whole elements and
// consistent offsets for multi-valued ones, booleans 0 or 1.
Status ValidateValue(const PropValue& value);

std::optional<std::int32_t> GetInt32(const Properties& props, std::uint16_t id);
std::optional<bool> GetBool(const Properties& props, std::uint16_t id);
std::optional<std::uint64_t> GetUint64(const Properties& props, std::uint16_t id);  // Time, Int64
std::optional<std::string> GetString(const Properties& props, std::uint16_t id);    // as UTF-8
std::optional<std::vector<std::uint8_t>> GetBinary(const Properties& props, std::uint16_t id);

// The subject as a person reads it: the leading U+0001 marker and its length character removed.
std::string DisplaySubject(const std::string& stored);

// A short rendering for reports ("0x1f 'Inbox'", "int 3", "12 bytes").
std::string DescribeValue(const PropValue& value);

}  // namespace pst::read
