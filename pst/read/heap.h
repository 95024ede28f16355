// Heap-on-node and BTree-on-heap: the allocator the property and table contexts live in.
//
// A heap is laid over the blocks of a node's data stream. Block 0 opens with the heap header
// (page-map offset, 0xEC, client signature, root heap id, fill levels); later blocks open with
// a 2-byte page-map offset, or 66 bytes at blocks 8, 136, 264, ... Each block ends (before any
// slack) with its page map: cAlloc, cFree, then cAlloc + 1 offsets delimiting the allocations.
// A heap id names (block, 1-based allocation index).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/status.h"
#include "pst/read/format.h"

namespace pst::read {

using Hid = std::uint32_t;

inline constexpr std::uint8_t kHeapSignature = 0xEC;
inline constexpr std::uint8_t kClientTable = 0x7C;
inline constexpr std::uint8_t kClientBth = 0xB5;
inline constexpr std::uint8_t kClientProperties = 0xBC;

class Heap {
 public:
  // Parses and validates every page map. The heap keeps its own copy of the blocks.
  static Result<Heap> Parse(std::vector<std::vector<std::uint8_t>> blocks);

  std::uint8_t client_signature() const { return client_sig_; }
  Hid user_root() const { return user_root_; }

  // The bytes of one allocation; NotFound for an id that names nothing. An allocation of zero
  // bytes is legal and gives an empty span.
  Result<std::span<const std::uint8_t>> Get(Hid hid) const;

  std::size_t block_count() const { return blocks_.size(); }
  std::size_t allocation_count() const;

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> offsets;  // cAlloc + 1 entries
  };
  std::vector<Block> blocks_;
  std::uint8_t client_sig_ = 0;
  Hid user_root_ = 0;
};

// One record of a BTree-on-heap. Keys in the trees read here are at most 8 bytes.
struct BthRecord {
  std::uint64_t key = 0;
  std::vector<std::uint8_t> data;
};

struct BthInfo {
  std::uint8_t key_size = 0;
  std::uint8_t data_size = 0;
  std::vector<BthRecord> records;  // in key order
};

// Reads the whole tree whose header is allocation `header`. Corruption when a record array does
// not divide into records, keys are not ascending, an index key differs from its child's first key,
// or the levels do not add up.
Result<BthInfo> ReadBth(const Heap& heap, Hid header);

}  // namespace pst::read
