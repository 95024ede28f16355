#include "pst/ltp/heap_builder.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "pst/ndb/le_bytes.h"

namespace pst::ltp {

using ndb::StoreLe;

namespace {

constexpr std::size_t kFirstHeaderSize = 12;
constexpr std::size_t kBitmapHeaderSize = 66;
constexpr std::size_t kPageHeaderSize = 2;
constexpr std::uint8_t kHeapSignature = 0xEC;
// hidIndex has 11 bits and index 0 is never used.
constexpr std::size_t kMaxAllocsPerBlock = 2047;
// Blocks 8, 136, 264, ... carry the fill levels of themselves and the 127 blocks that follow.
constexpr std::size_t kBitmapFirst = 8;
constexpr std::size_t kBitmapSpan = 128;

bool IsBitmapBlock(std::size_t block) { return block % kBitmapSpan == kBitmapFirst; }

std::size_t Align2(std::size_t n) { return (n + 1) & ~static_cast<std::size_t>(1); }

// Sets the nibble of block `block` in a fill-level array; the even block takes the low nibble.
void PutFillLevel(std::uint8_t* levels, std::size_t block, std::uint8_t level) {
  std::uint8_t& b = levels[block / 2];
  if (block % 2 == 0) {
    b = static_cast<std::uint8_t>((b & 0xF0) | level);
  } else {
    b = static_cast<std::uint8_t>((b & 0x0F) | (level << 4));
  }
}

}  // namespace

std::size_t HeapBlockHeaderSize(std::size_t block) {
  if (block == 0) return kFirstHeaderSize;
  if (IsBitmapBlock(block)) return kBitmapHeaderSize;
  return kPageHeaderSize;
}

std::uint8_t FillLevelFor(std::size_t freeBytes) {
  static constexpr std::size_t kLowerBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                                 512,  256,  128,  64,   32,   16,   8};
  for (std::size_t level = 0; level < std::size(kLowerBounds); ++level) {
    if (freeBytes >= kLowerBounds[level]) return static_cast<std::uint8_t>(level);
  }
  return 15;
}

HeapBuilder::HeapBuilder(std::uint8_t clientSig) : clientSig_(clientSig) { blocks_.emplace_back(); }

std::size_t HeapBuilder::UsedBytes(std::size_t index, std::size_t itemBytes, std::size_t allocCount) const {
  return Align2(HeapBlockHeaderSize(index) + itemBytes) + 4 + 2 * (allocCount + 1);
}

std::size_t HeapBuilder::UsedBytes(std::size_t index) const {
  const Block& b = blocks_[index];
  return b.written != 0 ? b.used : UsedBytes(index, b.items.size(), b.ends.size());
}

quill::Status HeapBuilder::SpillBlock(std::size_t index) {
  if (spill_ == nullptr || index == 0 || IsBitmapBlock(index) || blocks_[index].written != 0) {
    return quill::Status::Ok();
  }
  const std::vector<std::uint8_t> bytes = Serialize(index, true);
  QUILL_ASSIGN_OR_RETURN(const ndb::Bid bid, spill_->WriteDataBlock(bytes));
  Block& block = blocks_[index];
  block.used = UsedBytes(index, block.items.size(), block.ends.size());
  block.written = bid;
  std::vector<std::uint8_t>().swap(block.items);
  std::vector<std::uint16_t>().swap(block.ends);
  return quill::Status::Ok();
}

quill::Result<Hid> HeapBuilder::Allocate(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxHeapItem) {
    return quill::Status::InvalidArgument("heap allocation of " + std::to_string(bytes.size()) + " bytes");
  }
  std::size_t index = blocks_.size() - 1;
  Block* block = &blocks_.back();
  const bool fits =
      block->ends.size() < kMaxAllocsPerBlock &&
      UsedBytes(index, block->items.size() + bytes.size(), block->ends.size() + 1) <= ndb::kMaxBlockData;
  if (!fits) {
    if (blocks_.size() >= kMaxHeapBlocks) return quill::Status::NotSupported("heap exceeds 65536 blocks");
    // The full block will never change again (its fill level lives in another block).
    QUILL_RETURN_IF_ERROR(SpillBlock(index));
    blocks_.emplace_back();
    ++index;
    block = &blocks_.back();
  }
  block->items.insert(block->items.end(), bytes.begin(), bytes.end());
  block->ends.push_back(static_cast<std::uint16_t>(block->items.size()));
  return MakeHid(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(block->ends.size()));
}

quill::Status HeapBuilder::Replace(Hid hid, std::span<const std::uint8_t> bytes) {
  const std::uint32_t blockIndex = HidBlockOf(hid);
  const std::uint32_t index = HidIndexOf(hid);
  if (blockIndex < blocks_.size() && blocks_[blockIndex].written != 0) {
    return quill::Status::InvalidArgument("heap allocation " + std::to_string(hid) + " was written already");
  }
  if (!IsHid(hid) || index == 0 || blockIndex >= blocks_.size() || index > blocks_[blockIndex].ends.size()) {
    return quill::Status::InvalidArgument("no heap allocation " + std::to_string(hid));
  }
  Block& block = blocks_[blockIndex];
  const std::size_t begin = index == 1 ? 0 : block.ends[index - 2];
  const std::size_t end = block.ends[index - 1];
  if (end - begin != bytes.size()) {
    return quill::Status::InvalidArgument("heap allocation size cannot change");
  }
  std::copy(bytes.begin(), bytes.end(), block.items.begin() + static_cast<std::ptrdiff_t>(begin));
  return quill::Status::Ok();
}

std::vector<std::uint8_t> HeapBuilder::Serialize(std::size_t index, bool padToFull) const {
  const Block& block = blocks_[index];
  const std::size_t header = HeapBlockHeaderSize(index);
  const std::size_t pageMapAt = Align2(header + block.items.size());
  const std::size_t used = UsedBytes(index, block.items.size(), block.ends.size());
  std::vector<std::uint8_t> out(padToFull ? ndb::kMaxBlockData : used, 0);

  StoreLe(out.data(), pageMapAt, 2);
  if (index == 0) {
    out[2] = kHeapSignature;
    out[3] = clientSig_;
    StoreLe(out.data() + 4, userRoot_, 4);
  }
  // Fill levels record the room left for more allocations; they only matter to a writer that
  // later adds to this heap, but they should tell the truth.
  if (index == 0 || IsBitmapBlock(index)) {
    std::uint8_t* levels = out.data() + (index == 0 ? 8 : 2);
    const std::size_t covered = index == 0 ? 8 : kBitmapSpan;
    for (std::size_t k = 0; k < covered && index + k < blocks_.size(); ++k) {
      const std::size_t b = index + k;
      const std::size_t blockUsed = UsedBytes(b);
      PutFillLevel(levels, k, FillLevelFor(ndb::kMaxBlockData - blockUsed));
    }
  }
  std::memcpy(out.data() + header, block.items.data(), block.items.size());

  std::uint8_t* map = out.data() + pageMapAt;
  StoreLe(map, block.ends.size(), 2);
  StoreLe(map + 2, 0, 2);
  StoreLe(map + 4, header, 2);
  for (std::size_t i = 0; i < block.ends.size(); ++i) StoreLe(map + 6 + 2 * i, header + block.ends[i], 2);
  return out;
}

quill::Result<ndb::Bid> HeapBuilder::Write(ndb::NodeSink& sink) const {
  std::vector<ndb::Bid> leaves;
  leaves.reserve(blocks_.size());
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    if (blocks_[i].written != 0) {
      leaves.push_back(blocks_[i].written);
      total += ndb::kMaxBlockData;
      continue;
    }
    const bool last = i + 1 == blocks_.size();
    const std::vector<std::uint8_t> bytes = Serialize(i, !last);
    QUILL_ASSIGN_OR_RETURN(const ndb::Bid bid, sink.WriteDataBlock(bytes));
    leaves.push_back(bid);
    total += bytes.size();
  }
  return sink.WriteDataTree(leaves, total);
}

}  // namespace pst::ltp
