#include "pst/read/properties.h"

#include <cstdio>

#include "common/text.h"
#include "pst/read/format.h"

namespace pst::read {

int FixedSizeOf(std::uint16_t type) {
  using namespace prop_type;
  switch (type & ~kMultiple) {
    case kInt16:
      return 2;
    case kInt32:
    case kFloat32:
    case kErrorCode:
      return 4;
    case kBoolean:
      return (type & kMultiple) ? -1 : 1;
    case kFloat64:
    case kCurrency:
    case kFloatingTime:
    case kInt64:
    case kTime:
      return 8;
    case kGuid:
      return 16;
    case kString:
    case kString8:
    case kBinary:
      return 0;
    case kObject:
      return (type & kMultiple) ? -1 : 0;
    default:
      return -1;
  }
}

Status ValidateValue(const PropValue& v) {
  const int fixed = FixedSizeOf(v.type);
  const std::size_t n = v.bytes.size();
  if (fixed < 0) return Status::Corruption("unknown property type " + std::to_string(v.type));
  if ((v.type & prop_type::kMultiple) == 0) {
    if (v.type == prop_type::kBoolean) {
      if (n != 1 || v.bytes[0] > 1) return Status::Corruption("boolean is neither 0 nor 1");
      return Status::Ok();
    }
    if (fixed > 0 && n != static_cast<std::size_t>(fixed)) {
      return Status::Corruption("value of " + std::to_string(n) + " bytes for a " + std::to_string(fixed) +
                                "-byte type");
    }
    if (v.type == prop_type::kString && n % 2 != 0) return Status::Corruption("odd-length UTF-16 string");
    // Stored strings carry their length; a terminator inside the value shows up in every reader.
    if (v.type == prop_type::kString && n >= 2 && v.bytes[n - 2] == 0 && v.bytes[n - 1] == 0) {
      return Status::Corruption("string value ends with a NUL character");
    }
    return Status::Ok();
  }
  if (fixed > 0) {
    if (n % fixed != 0) return Status::Corruption("multi-valued property with a partial element");
    return Status::Ok();
  }
  if (n == 0) return Status::Ok();
  std::span<const std::uint8_t> b(v.bytes);
  const std::uint64_t count = Le32(b, 0);
  if (n < 4 || (n - 4) / 4 < count) return Status::Corruption("multi-valued count larger than the value");
  std::uint64_t prev = 4 + 4 * count;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint32_t off = Le32(b, 4 + 4 * i);
    if (off < prev || off > n) return Status::Corruption("multi-valued offsets out of order");
    prev = off;
  }
  return Status::Ok();
}

namespace {

const PropValue* Find(const Properties& props, std::uint16_t id) {
  auto it = props.find(id);
  return it == props.end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::int32_t> GetInt32(const Properties& props, std::uint16_t id) {
  const PropValue* v = Find(props, id);
  if (!v || (v->type != prop_type::kInt32 && v->type != prop_type::kErrorCode) || v->bytes.size() != 4) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(Le32(v->bytes, 0));
}

std::optional<bool> GetBool(const Properties& props, std::uint16_t id) {
  const PropValue* v = Find(props, id);
  if (!v || v->type != prop_type::kBoolean || v->bytes.empty()) return std::nullopt;
  return v->bytes[0] != 0;
}

std::optional<std::uint64_t> GetUint64(const Properties& props, std::uint16_t id) {
  const PropValue* v = Find(props, id);
  if (!v || (v->type != prop_type::kTime && v->type != prop_type::kInt64) || v->bytes.size() != 8) {
    return std::nullopt;
  }
  return Le64(v->bytes, 0);
}

std::optional<std::string> GetString(const Properties& props, std::uint16_t id) {
  const PropValue* v = Find(props, id);
  if (!v) return std::nullopt;
  if (v->type == prop_type::kString8) return std::string(v->bytes.begin(), v->bytes.end());
  if (v->type != prop_type::kString) return std::nullopt;
  std::u16string u;
  for (std::size_t i = 0; i + 1 < v->bytes.size(); i += 2) {
    u.push_back(static_cast<char16_t>(v->bytes[i] | (v->bytes[i + 1] << 8)));
  }
  return quill::Utf16ToUtf8(u);
}

std::optional<std::vector<std::uint8_t>> GetBinary(const Properties& props, std::uint16_t id) {
  const PropValue* v = Find(props, id);
  if (!v || v->type != prop_type::kBinary) return std::nullopt;
  return v->bytes;
}

std::string DisplaySubject(const std::string& stored) {
  if (stored.size() >= 2 && stored[0] == '\x01') return stored.substr(2);
  return stored;
}

std::string DescribeValue(const PropValue& v) {
  char buf[64];
  switch (v.type) {
    case prop_type::kInt32:
      if (v.bytes.size() == 4) {
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(Le32(v.bytes, 0)));
        return buf;
      }
      break;
    case prop_type::kBoolean:
      return !v.bytes.empty() && v.bytes[0] ? "true" : "false";
    case prop_type::kTime:
    case prop_type::kInt64:
      if (v.bytes.size() == 8) {
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(Le64(v.bytes, 0)));
        return buf;
      }
      break;
    case prop_type::kString:
    case prop_type::kString8: {
      Properties p{{0, v}};
      std::string s = *GetString(p, 0);
      if (s.size() > 60) s = s.substr(0, 60) + "...";
      for (char& c : s) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
      }
      return "'" + s + "'";
    }
    default:
      break;
  }
  return std::to_string(v.bytes.size()) + " bytes";
}

}  // namespace pst::read
