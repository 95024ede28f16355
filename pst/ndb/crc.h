// The CRC-32 that guards the header, every page and every block.
//
// It is the reflected CRC-32 (polynomial 0xEDB88320) with a zero seed and no final inversion, so
// it differs from zlib's crc32(); an empty input gives 0. Checksums chain: the CRC of a+b equals
// ComputeCrc(b, ComputeCrc(a)).
#pragma once

#include <cstdint>
#include <span>

namespace pst::ndb {

// Uses carry-less multiplication where the processor has it.
std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

// The same value by table lookups only, on any processor (and a cross-check for the fast path).
std::uint32_t ComputeCrcPortable(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace pst::ndb
