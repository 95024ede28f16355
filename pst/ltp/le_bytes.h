// Little-endian stores and loads into byte buffers; every integer in the file is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pst::ltp {

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

}  // namespace pst::ltp
