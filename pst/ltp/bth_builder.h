// BTree-on-heap: sorted key/value records kept in heap allocations.
//
//   BTHHEADER (8 bytes, its own allocation): bType 0xB5, cbKey, cbEnt, bIdxLevels, hidRoot
//   leaf allocation:  key|value records sorted by key
//   index allocation: key|HID records, key = first key of the child allocation
//
// An allocation holds at most kMaxHeapItem bytes, so a tree grows index levels until its root fits
// in one allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status.h"
#include "pst/ltp/heap_builder.h"

namespace pst::ltp {

inline constexpr std::size_t kBthHeaderSize = 8;

// Places an empty BTHHEADER so that the tree's header gets an early HID (owners point at it before
// the records exist). Fill it with BuildBth.
quill::Result<Hid> ReserveBthHeader(HeapBuilder& heap);

// Stores `records` (count × (keySize + valueSize) bytes, in ascending key order) as a tree whose
// header is the allocation `header` made by ReserveBthHeader. Keys are compared as little-endian
// unsigned numbers.
// Errors: InvalidArgument for a bad key or value size, a ragged record array, or keys that are not
// strictly ascending (duplicates included); whatever HeapBuilder::Allocate returns.
quill::Status BuildBth(HeapBuilder& heap, Hid header, std::size_t keySize, std::size_t valueSize,
                       std::span<const std::uint8_t> records);

}  // namespace pst::ltp
