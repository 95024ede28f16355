// Where things go in a file: allocation regions and the map pages at their head.
//
// Blocks and pages are placed by one append-only cursor. Each region starts with its AMap page and,
// at the intervals the format fixes, a PMap, FMap and FPMap page; the cursor skips those and
// never lets a block run over a region's end (a block is at most 8 KiB, a region 248 KiB, so the
// waste is small and every region is reached in order).
#pragma once

#include <cstdint>

#include "pst/ndb/format.h"

namespace pst::ndb {

constexpr std::uint64_t RegionStart(std::uint64_t k) { return kFirstRegionOffset + k * kRegionSize; }
// REQUIRES: ib >= kFirstRegionOffset.
constexpr std::uint64_t RegionOf(std::uint64_t ib) { return (ib - kFirstRegionOffset) / kRegionSize; }

constexpr bool HasPMap(std::uint64_t k) { return k % kPMapEvery == 0; }
constexpr bool HasFMap(std::uint64_t k) {
  return k >= kFirstFMapRegion && (k - kFirstFMapRegion) % kFMapEvery == 0;
}
constexpr bool HasFPMap(std::uint64_t k) {
  return k >= kFirstFPMapRegion && (k - kFirstFPMapRegion) % kFPMapEvery == 0;
}

// The first offset after the map pages of region k: where its blocks may begin.
constexpr std::uint64_t FirstDataOffset(std::uint64_t k) {
  std::uint64_t off = kPageSize;  // the AMap
  if (HasPMap(k)) off = kPMapOffsetInRegion + kPageSize;
  if (HasFMap(k)) off = kFMapOffsetInRegion + kPageSize;
  if (HasFPMap(k)) off = kFPMapOffsetInRegion + kPageSize;
  return RegionStart(k) + off;
}

// Where an allocation of `size` bytes aligned to `align` goes when the cursor stands at `cursor`.
// REQUIRES: size <= kMaxBlockSize; align divides kPageSize; cursor >= FirstDataOffset(0).
constexpr std::uint64_t PlaceAllocation(std::uint64_t cursor, std::uint64_t size, std::uint64_t align) {
  std::uint64_t pos = (cursor + align - 1) / align * align;
  std::uint64_t k = RegionOf(pos);
  if (pos < FirstDataOffset(k)) pos = FirstDataOffset(k);
  if (pos + size > RegionStart(k + 1)) pos = FirstDataOffset(k + 1);
  return pos;
}

}  // namespace pst::ndb
