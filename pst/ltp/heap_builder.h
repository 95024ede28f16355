// HeapBuilder: lays out a heap-on-node and writes it as the data of one node.
//
// A heap is a run of blocks of at most kMaxBlockData bytes. Each block starts with a small header,
// holds the allocations packed one after another, and ends with its page map:
//
//   block 0          HNHDR (12): ibHnpm, 0xEC, client signature, user root HID, fill levels 0-7
//   block 8, 136, .. HNBITMAPHDR (66): ibHnpm, fill levels of this block and the 127 after it
//   other blocks     HNPAGEHDR (2): ibHnpm
//   then             allocation 1, allocation 2, ...   (an allocation never crosses a block)
//   at ibHnpm        cAlloc, cFree, rgibAlloc[cAlloc + 1]   (2-byte aligned)
//
// A HID names allocation i (1-based) of block b as (b << 16) | (i << 5). Allocations only go into
// the last block (blocks are never revisited), so a HID is final the moment it is handed out.
//
// When a heap needs more than one block, every block but the last is padded with zeros after its
// page map to the full kMaxBlockData: the node's data tree requires full leaves except the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/status.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp {

using Hid = std::uint32_t;

// The most bytes one heap allocation may hold.
inline constexpr std::size_t kMaxHeapItem = 3580;
// The most blocks one heap may span.
inline constexpr std::size_t kMaxHeapBlocks = 65536;

enum class HeapClient : std::uint8_t {
  kTable = 0x7C,
  kBTree = 0xB5,
  kProperties = 0xBC,
};

constexpr Hid MakeHid(std::uint32_t block, std::uint32_t index) { return (block << 16) | (index << 5); }
constexpr std::uint32_t HidBlockOf(Hid hid) { return hid >> 16; }
constexpr std::uint32_t HidIndexOf(Hid hid) { return (hid >> 5) & 0x7FF; }
// True for an HNID that names a heap item rather than a subnode.
constexpr bool IsHid(std::uint32_t hnid) { return (hnid & 0x1F) == 0; }

// Size of the header at the start of heap block `block`.
std::size_t HeapBlockHeaderSize(std::size_t block);

// Fill-level nibble for a block with `freeBytes` unused bytes (0 = plenty free, 15 = full).
std::uint8_t FillLevelFor(std::size_t freeBytes);

class HeapBuilder {
 public:
  explicit HeapBuilder(std::uint8_t clientSig);

  HeapBuilder(const HeapBuilder&) = delete;
  HeapBuilder& operator=(const HeapBuilder&) = delete;
  HeapBuilder(HeapBuilder&&) = default;
  HeapBuilder& operator=(HeapBuilder&&) = default;

  // Stores `bytes` as a new allocation and returns its HID.
  // Errors: InvalidArgument when bytes is empty or larger than kMaxHeapItem; NotSupported when the
  // heap would need more than kMaxHeapBlocks blocks.
  quill::Result<Hid> Allocate(std::span<const std::uint8_t> bytes);

  // Overwrites the content of an earlier allocation with bytes of the same size (so a structure
  // can be placed first and filled in once what it points to is known).
  // Errors: InvalidArgument for an unknown HID or a size change.
  quill::Status Replace(Hid hid, std::span<const std::uint8_t> bytes);

  void SetUserRoot(Hid hid) { userRoot_ = hid; }

  // Lets the heap write each full block through `sink` as soon as the next one is started, so a
  // heap that grows with its table (the cells of a folder with a million messages) does not stay
  // in memory. Blocks that carry fill levels of later blocks (block 0 and the bitmap blocks) are
  // kept until Write. Allocations in a written block can no longer be replaced.
  // REQUIRES: `sink` outlives the heap and is the one later given to Write.
  void SpillTo(ndb::NodeSink& sink) { spill_ = &sink; }

  std::size_t blockCount() const { return blocks_.size(); }

  // Writes the heap's blocks and their data tree through `sink`; returns the tree's top.
  quill::Result<ndb::Bid> Write(ndb::NodeSink& sink) const;

 private:
  struct Block {
    std::vector<std::uint8_t> items;  // allocations back to back
    std::vector<std::uint16_t> ends;  // end offset (within the items) of each allocation
    ndb::Bid written = 0;             // set once the block went to the sink early
    std::size_t used = 0;             // its used bytes then (items and ends are released)
  };

  // Bytes block `index` needs for its header, items and page map, before any padding.
  std::size_t UsedBytes(std::size_t index, std::size_t itemBytes, std::size_t allocCount) const;
  std::size_t UsedBytes(std::size_t index) const;
  quill::Status SpillBlock(std::size_t index);
  std::vector<std::uint8_t> Serialize(std::size_t index, bool padToFull) const;

  std::uint8_t clientSig_;
  Hid userRoot_ = 0;
  std::vector<Block> blocks_;
  ndb::NodeSink* spill_ = nullptr;
};

}  // namespace pst::ltp
