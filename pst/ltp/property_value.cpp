#include "pst/ltp/property_value.h"

#include <bit>
#include <cstring>

#include "common/text.h"
#include "pst/ndb/le_bytes.h"

namespace pst::ltp {

using ndb::AppendLe;
using ndb::LoadLe;
using ndb::StoreLe;

namespace {

std::vector<std::uint8_t> Le(std::uint64_t v, std::size_t width) {
  std::vector<std::uint8_t> out;
  AppendLe(out, v, width);
  return out;
}

// NUL characters are dropped: a stored string ends at its length, and readers stop at a NUL.
void AppendUtf16(std::vector<std::uint8_t>& out, std::u16string_view text) {
  const std::size_t start = out.size();
  out.resize(start + 2 * text.size());
  std::uint8_t* p = out.data() + start;
  for (char16_t c : text) {
    if (c == 0) continue;
    *p++ = static_cast<std::uint8_t>(c);
    *p++ = static_cast<std::uint8_t>(c >> 8);
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

// Variable-size multi-values: a count, one offset per item from the start of the value, then the
// items back to back.
template <typename Item, typename AppendItem>
std::vector<std::uint8_t> PackVariableMulti(std::span<const Item> items, AppendItem append) {
  std::vector<std::uint8_t> out;
  AppendLe(out, items.size(), 4);
  out.resize(4 + 4 * items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    StoreLe(out.data() + 4 + 4 * i, out.size(), 4);
    append(out, items[i]);
  }
  return out;
}

}  // namespace

bool IsKnownType(PropType type) {
  switch (type) {
    case PropType::kInteger16:
    case PropType::kInteger32:
    case PropType::kFloating32:
    case PropType::kFloating64:
    case PropType::kCurrency:
    case PropType::kFloatingTime:
    case PropType::kErrorCode:
    case PropType::kBoolean:
    case PropType::kObject:
    case PropType::kInteger64:
    case PropType::kString8:
    case PropType::kString:
    case PropType::kTime:
    case PropType::kGuid:
    case PropType::kBinary:
    case PropType::kMultipleInteger32:
    case PropType::kMultipleString:
    case PropType::kMultipleBinary:
      return true;
  }
  return false;
}

std::size_t FixedSizeOf(PropType type) {
  switch (type) {
    case PropType::kBoolean:
      return 1;
    case PropType::kInteger16:
      return 2;
    case PropType::kInteger32:
    case PropType::kFloating32:
    case PropType::kErrorCode:
      return 4;
    case PropType::kFloating64:
    case PropType::kCurrency:
    case PropType::kFloatingTime:
    case PropType::kInteger64:
    case PropType::kTime:
    case PropType::kObject:
      return 8;
    default:
      return 0;
  }
}

bool IsInlineInPropertyContext(PropType type) {
  const std::size_t size = FixedSizeOf(type);
  return size >= 1 && size <= 4;
}

std::size_t CellSizeOf(PropType type) {
  const std::size_t size = FixedSizeOf(type);
  if (size == 0 || type == PropType::kObject) return 4;
  return size;
}

bool IsReferenceCell(PropType type) { return FixedSizeOf(type) == 0 || type == PropType::kObject; }

PropValue PropValue::Int16(std::int16_t v) {
  return PropValue(PropType::kInteger16, Le(static_cast<std::uint16_t>(v), 2));
}
PropValue PropValue::Int32(std::int32_t v) {
  return PropValue(PropType::kInteger32, Le(static_cast<std::uint32_t>(v), 4));
}
PropValue PropValue::Int64(std::int64_t v) {
  return PropValue(PropType::kInteger64, Le(static_cast<std::uint64_t>(v), 8));
}
PropValue PropValue::Bool(bool v) {
  return PropValue(PropType::kBoolean, {static_cast<std::uint8_t>(v ? 1 : 0)});
}
PropValue PropValue::Floating64(double v) {
  return PropValue(PropType::kFloating64, Le(std::bit_cast<std::uint64_t>(v), 8));
}
PropValue PropValue::Currency(std::int64_t tenThousandths) {
  return PropValue(PropType::kCurrency, Le(static_cast<std::uint64_t>(tenThousandths), 8));
}
PropValue PropValue::Time(std::uint64_t fileTime) { return PropValue(PropType::kTime, Le(fileTime, 8)); }

PropValue PropValue::String(std::u16string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2);
  AppendUtf16(out, text);
  return PropValue(PropType::kString, std::move(out));
}

PropValue PropValue::StringUtf8(std::string_view text) {
  return PropValue(PropType::kString, quill::Utf8ToUtf16LeWithoutNul(text));
}

PropValue PropValue::Binary(std::span<const std::uint8_t> bytes) {
  return PropValue(PropType::kBinary, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
PropValue PropValue::Binary(std::vector<std::uint8_t> bytes) {
  return PropValue(PropType::kBinary, std::move(bytes));
}

PropValue PropValue::GuidValue(const Guid& guid) {
  return PropValue(PropType::kGuid, std::vector<std::uint8_t>(guid.begin(), guid.end()));
}

PropValue PropValue::Object(std::uint32_t subnodeNid, std::uint32_t size) {
  std::vector<std::uint8_t> out;
  AppendLe(out, subnodeNid, 4);
  AppendLe(out, size, 4);
  return PropValue(PropType::kObject, std::move(out));
}

PropValue PropValue::MultipleInt32(std::span<const std::int32_t> values) {
  std::vector<std::uint8_t> out;
  for (std::int32_t v : values) AppendLe(out, static_cast<std::uint32_t>(v), 4);
  return PropValue(PropType::kMultipleInteger32, std::move(out));
}

PropValue PropValue::MultipleString(std::span<const std::u16string> values) {
  return PropValue(PropType::kMultipleString,
                   PackVariableMulti(values, [](std::vector<std::uint8_t>& out, const std::u16string& s) {
                     AppendUtf16(out, s);
                   }));
}

PropValue PropValue::MultipleBinary(std::span<const std::vector<std::uint8_t>> values) {
  return PropValue(
      PropType::kMultipleBinary,
      PackVariableMulti(values, [](std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& b) {
        out.insert(out.end(), b.begin(), b.end());
      }));
}

std::uint32_t PropValue::InlineValue() const {
  return static_cast<std::uint32_t>(LoadLe(bytes_.data(), bytes_.size() < 4 ? bytes_.size() : 4));
}

}  // namespace pst::ltp
