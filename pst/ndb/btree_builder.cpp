#include "pst/ndb/btree_builder.h"

#include <algorithm>
#include <array>
#include <vector>

namespace pst::ndb {
namespace {

struct ChildRef {
  std::uint64_t firstKey = 0;
  BlockRef page;
};

}  // namespace

quill::Result<BlockRef> BuildBTree(std::size_t leafEntrySize, std::size_t count, const BtLeafEntry& leafEntry,
                                   const BtPageWriter& writePage, int* levels) {
  std::array<std::uint8_t, kPageSize> page{};
  const std::size_t leafCapacity = kBtEntriesSize / leafEntrySize;

  std::vector<ChildRef> level;
  std::size_t first = 0;
  do {
    const std::size_t n = std::min(leafCapacity, count - first);
    page.fill(0);
    for (std::size_t i = 0; i < n; ++i) leafEntry(first + i, page.data() + i * leafEntrySize);
    page[kBtCountOffset] = static_cast<std::uint8_t>(n);
    page[kBtMaxCountOffset] = static_cast<std::uint8_t>(leafCapacity);
    page[kBtEntrySizeOffset] = static_cast<std::uint8_t>(leafEntrySize);
    page[kBtLevelOffset] = 0;
    QUILL_ASSIGN_OR_RETURN(BlockRef ref, writePage(page.data()));
    level.push_back(ChildRef{n > 0 ? Get64(page.data()) : 0, ref});
    first += n;
  } while (first < count);

  int depth = 1;
  while (level.size() > 1) {
    if (depth > kMaxBtLevels) return quill::Status::NotSupported("B-tree deeper than the format allows");
    std::vector<ChildRef> upper;
    for (std::size_t at = 0; at < level.size(); at += kBtIndexCapacity) {
      const std::size_t n = std::min(kBtIndexCapacity, level.size() - at);
      page.fill(0);
      for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* e = page.data() + i * kBtIndexEntrySize;
        Put64(e, level[at + i].firstKey);
        Put64(e + 8, level[at + i].page.bid);
        Put64(e + 16, level[at + i].page.ib);
      }
      page[kBtCountOffset] = static_cast<std::uint8_t>(n);
      page[kBtMaxCountOffset] = static_cast<std::uint8_t>(kBtIndexCapacity);
      page[kBtEntrySizeOffset] = static_cast<std::uint8_t>(kBtIndexEntrySize);
      page[kBtLevelOffset] = static_cast<std::uint8_t>(depth);
      QUILL_ASSIGN_OR_RETURN(BlockRef ref, writePage(page.data()));
      upper.push_back(ChildRef{level[at].firstKey, ref});
    }
    level = std::move(upper);
    ++depth;
  }
  if (levels != nullptr) *levels = depth;
  return level.front().page;
}

}  // namespace pst::ndb
