// Little-endian stores and loads into byte buffers, for every layer of the writer: every integer
// in the file is little-endian, whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pst::ndb {

// The low `width` bytes of `v` (width <= 8).
inline void StoreLe(std::uint8_t* out, std::uint64_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void AppendLe(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint64_t LoadLe(const std::uint8_t* in, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return v;
}

inline void Put16(std::uint8_t* p, std::uint16_t v) { StoreLe(p, v, 2); }
inline void Put32(std::uint8_t* p, std::uint32_t v) { StoreLe(p, v, 4); }
inline void Put64(std::uint8_t* p, std::uint64_t v) { StoreLe(p, v, 8); }
inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(LoadLe(p, 2)); }
inline std::uint32_t Get32(const std::uint8_t* p) { return static_cast<std::uint32_t>(LoadLe(p, 4)); }
inline std::uint64_t Get64(const std::uint8_t* p) { return LoadLe(p, 8); }

}  // namespace pst::ndb
