// On-disk constants of the node database (Unicode layout); the little-endian field access comes
// with it from le_bytes.h.
//
// A file is a 564-byte header, a reserved gap, an optional density list page at 0x4200, and then
// a run of allocation regions of 253,952 bytes each:
//
//   region k at kFirstRegionOffset + k * kRegionSize
//   +0x000  AMap page (one bit per 64-byte slot of the region, the map page itself included)
//   +0x200  PMap page          (every 8th region)
//   +0x400  FMap page          (region 128, then every 496th)
//   +0x600  FPMap page         (region 8192, then every 3968th)
//   ...     blocks (64-byte aligned, never across a region end) and 512-byte B-tree pages
//
// A block is its data, padding to a 64-byte multiple, and a 16-byte trailer at the end:
//
//   [data: cb bytes][padding][cb:2][wSig:2][crc:4][bid:8]
//
// A page is 512 bytes: 496 bytes of content and a 16-byte trailer:
//
//   [content: 496][ptype:1][ptype:1][wSig:2][crc:4][bid:8]
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pst/ndb/le_bytes.h"
#include "pst/ndb/node_sink.h"

namespace pst::ndb {

// ---- Geometry ----------------------------------------------------------------------------------
inline constexpr std::size_t kHeaderSize = 564;
inline constexpr std::uint64_t kDensityListOffset = 0x4200;
inline constexpr std::uint64_t kFirstRegionOffset = 0x4400;
inline constexpr std::uint64_t kRegionSize = 0x3E000;  // 496 * 8 slots of 64 bytes
inline constexpr std::size_t kSlotSize = 64;
inline constexpr std::size_t kSlotsPerRegion = kRegionSize / kSlotSize;  // 3968
inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kPageContentSize = 496;
inline constexpr std::size_t kPageTrailerSize = 16;
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kMaxBlockSize = 8192;

// Map pages sit at fixed offsets inside their region.
inline constexpr std::uint64_t kPMapOffsetInRegion = 0x200;
inline constexpr std::uint64_t kFMapOffsetInRegion = 0x400;
inline constexpr std::uint64_t kFPMapOffsetInRegion = 0x600;
inline constexpr std::uint64_t kPMapEvery = 8;          // regions per PMap page
inline constexpr std::uint64_t kFirstFMapRegion = 128;  // the header's 128-byte copy covers 0..127
inline constexpr std::uint64_t kFMapEvery = 496;
inline constexpr std::uint64_t kFirstFPMapRegion = 8192;  // the header's copy covers 1024 PMaps
inline constexpr std::uint64_t kFPMapEvery = 3968;

// ---- Page types --------------------------------------------------------------------------------
enum class PageType : std::uint8_t {
  kBbt = 0x80,
  kNbt = 0x81,
  kFMap = 0x82,
  kPMap = 0x83,
  kAMap = 0x84,
  kFPMap = 0x85,
  kDensityList = 0x86,
};

// ---- B-tree pages ------------------------------------------------------------------------------
inline constexpr std::size_t kBtEntriesSize = 488;
inline constexpr std::size_t kBtCountOffset = 488;      // cEnt
inline constexpr std::size_t kBtMaxCountOffset = 489;   // cEntMax
inline constexpr std::size_t kBtEntrySizeOffset = 490;  // cbEnt
inline constexpr std::size_t kBtLevelOffset = 491;      // cLevel
inline constexpr std::size_t kNbtEntrySize = 32;
inline constexpr std::size_t kBbtEntrySize = 24;
inline constexpr std::size_t kBtIndexEntrySize = 24;
inline constexpr std::size_t kNbtLeafCapacity = kBtEntriesSize / kNbtEntrySize;      // 15
inline constexpr std::size_t kBbtLeafCapacity = kBtEntriesSize / kBbtEntrySize;      // 20
inline constexpr std::size_t kBtIndexCapacity = kBtEntriesSize / kBtIndexEntrySize;  // 20
inline constexpr int kMaxBtLevels = 8;  // intermediate levels a reader accepts

// ---- Blocks ------------------------------------------------------------------------------------
inline constexpr Bid kBidInternalBit = 0x2;
inline constexpr Bid kBidStep = 4;
inline constexpr std::uint8_t kBlockTypeData = 0x01;     // XBLOCK / XXBLOCK
inline constexpr std::uint8_t kBlockTypeSubnode = 0x02;  // SLBLOCK / SIBLOCK
inline constexpr std::size_t kTreeHeaderSize = 8;
inline constexpr std::size_t kXEntrySize = 8;
inline constexpr std::size_t kSlEntrySize = 24;
inline constexpr std::size_t kSiEntrySize = 16;
inline constexpr std::size_t kXBlockCapacity = (kMaxBlockData - kTreeHeaderSize) / kXEntrySize;    // 1021
inline constexpr std::size_t kSlBlockCapacity = (kMaxBlockData - kTreeHeaderSize) / kSlEntrySize;  // 340
inline constexpr std::size_t kSiBlockCapacity = (kMaxBlockData - kTreeHeaderSize) / kSiEntrySize;  // 510

enum class BlockKind : std::uint8_t {
  kData,     // external: raw (encoded) bytes of a node
  kXBlock,   // data tree, level 1
  kXXBlock,  // data tree, level 2
  kSlBlock,  // subnode tree leaf
  kSiBlock,  // subnode tree index
};

constexpr bool IsDataTreeKind(BlockKind k) {
  return k == BlockKind::kData || k == BlockKind::kXBlock || k == BlockKind::kXXBlock;
}
constexpr bool IsSubnodeTreeKind(BlockKind k) { return k == BlockKind::kSlBlock || k == BlockKind::kSiBlock; }

constexpr std::size_t AlignUp(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

// Bytes a block of `cb` data bytes takes on disk.
constexpr std::size_t BlockDiskSize(std::size_t cb) { return AlignUp(cb + kBlockTrailerSize, kSlotSize); }

// The 16-bit signature that binds a page or block to its place and id.
constexpr std::uint16_t ComputeSignature(std::uint64_t ib, std::uint64_t bid) {
  const std::uint32_t x = static_cast<std::uint32_t>(ib ^ bid);
  return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

// ---- Header ------------------------------------------------------------------------------------
namespace header {
inline constexpr std::size_t kMagic = 0x000;
inline constexpr std::size_t kCrcPartial = 0x004;
inline constexpr std::size_t kMagicClient = 0x008;
inline constexpr std::size_t kVersion = 0x00A;
inline constexpr std::size_t kClientVersion = 0x00C;
inline constexpr std::size_t kPlatformCreate = 0x00E;
inline constexpr std::size_t kPlatformAccess = 0x00F;
inline constexpr std::size_t kBidNextP = 0x020;
inline constexpr std::size_t kUnique = 0x028;
inline constexpr std::size_t kNidCounters = 0x02C;  // 32 x uint32
inline constexpr std::size_t kFileEof = 0x0B8;
inline constexpr std::size_t kAMapLast = 0x0C0;
inline constexpr std::size_t kAMapFree = 0x0C8;
inline constexpr std::size_t kPMapFree = 0x0D0;
inline constexpr std::size_t kNbtRoot = 0x0D8;  // BREF: bid, ib
inline constexpr std::size_t kBbtRoot = 0x0E8;
inline constexpr std::size_t kAMapValid = 0x0F8;
inline constexpr std::size_t kFreeMap = 0x100;      // rgbFM, 128 bytes
inline constexpr std::size_t kFreePageMap = 0x180;  // rgbFP, 128 bytes
inline constexpr std::size_t kSentinel = 0x200;
inline constexpr std::size_t kCryptMethod = 0x201;
inline constexpr std::size_t kBidNextB = 0x204;
inline constexpr std::size_t kCrcFull = 0x20C;

inline constexpr std::size_t kCrcPartialStart = 0x008;
inline constexpr std::size_t kCrcPartialLength = 471;
inline constexpr std::size_t kCrcFullLength = 516;

inline constexpr std::uint16_t kVersionUnicode = 23;
inline constexpr std::uint16_t kClientVersionValue = 19;
inline constexpr std::uint8_t kSentinelValue = 0x80;
inline constexpr std::uint8_t kAMapValidValue = 0x02;
}  // namespace header

enum class CryptMethod : std::uint8_t { kNone = 0, kPermute = 1 };

}  // namespace pst::ndb
