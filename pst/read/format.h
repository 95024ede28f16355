// On-disk constants and primitive decoders shared by the read-back path and the checker.
//
// Everything in a Unicode store is little-endian. Pages are 512 bytes with a 16-byte trailer;
// blocks are padded to 64 bytes and end with a 16-byte trailer:
//
//   page:  [ 496 bytes of content ][ptype][ptype][wSig][dwCRC][bid (8)]
//   block: [ cb data bytes ][ padding to 64 ][cb (2)][wSig (2)][dwCRC (4)][bid (8)]
//
// None of the readers here trusts a length or offset before checking it against the buffer it
// indexes; the helpers below return 0 for anything out of range so a caller that forgets a check
// reads zeros rather than foreign memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status.h"

namespace pst::read {

using quill::Result;
using quill::Status;

using Nid = std::uint32_t;
using Bid = std::uint64_t;

inline constexpr std::size_t kHeaderSize = 564;
inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kPageTrailerOffset = 496;
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kMaxBlockData = 8176;
inline constexpr std::size_t kMaxBlockOnDisk = 8192;
inline constexpr std::uint64_t kFirstAmapOffset = 0x4400;
inline constexpr std::uint64_t kAmapRegionSize = 0x3E000;  // 3968 slots of 64 bytes
inline constexpr std::uint64_t kDlistOffset = 0x4200;
inline constexpr std::size_t kAmapSlot = 64;
inline constexpr std::size_t kHeapMaxAlloc = 3580;

inline constexpr std::uint8_t kPtypeBbt = 0x80;
inline constexpr std::uint8_t kPtypeNbt = 0x81;
inline constexpr std::uint8_t kPtypeFmap = 0x82;
inline constexpr std::uint8_t kPtypePmap = 0x83;
inline constexpr std::uint8_t kPtypeAmap = 0x84;
inline constexpr std::uint8_t kPtypeFpmap = 0x85;
inline constexpr std::uint8_t kPtypeDlist = 0x86;

inline constexpr std::uint8_t kCryptNone = 0;
inline constexpr std::uint8_t kCryptPermute = 1;
inline constexpr std::uint8_t kCryptCyclic = 2;

// Block ids: bit 0 is reserved (readers ignore it), bit 1 marks an internal block (XBLOCK,
// XXBLOCK, SLBLOCK, SIBLOCK) whose bytes are never encoded.
constexpr Bid CanonicalBid(Bid bid) { return bid & ~Bid{1}; }
constexpr bool IsInternalBid(Bid bid) { return (bid & 2) != 0; }

constexpr std::uint8_t NidTypeOf(Nid nid) { return static_cast<std::uint8_t>(nid & 0x1F); }
constexpr std::uint32_t NidIndexOf(Nid nid) { return nid >> 5; }

// On-disk size of a block holding `cb` data bytes.
constexpr std::uint64_t BlockDiskSize(std::uint64_t cb) {
  return (cb + kBlockTrailerSize + 63) & ~std::uint64_t{63};
}

inline std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t off) {
  if (off > b.size() || b.size() - off < 2) return 0;
  return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t off) {
  if (off > b.size() || b.size() - off < 4) return 0;
  return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
         (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}
inline std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t off) {
  if (off > b.size() || b.size() - off < 8) return 0;
  return static_cast<std::uint64_t>(Le32(b, off)) | (static_cast<std::uint64_t>(Le32(b, off + 4)) << 32);
}

// The store's CRC: reflected CRC-32 (polynomial 0xEDB88320) started at 0 with no final inversion,
// which is not what zlib returns for the same bytes.
std::uint32_t PstCrc(std::span<const std::uint8_t> data);

// The 16-bit signature pages and blocks carry, derived from where they sit and their id.
constexpr std::uint16_t Signature(std::uint64_t ib, Bid bid) {
  const std::uint32_t x = static_cast<std::uint32_t>(ib ^ bid);
  return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

// The "compressible" byte substitution, in place. Only decoding is needed to read; encoding lets
// tests patch a stored block.
void PermuteDecode(std::span<std::uint8_t> data);
void PermuteEncode(std::span<std::uint8_t> data);

}  // namespace pst::read
