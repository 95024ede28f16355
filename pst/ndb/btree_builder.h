// Bulk construction of the node and block B-trees from sorted entries.
//
// Leaves are packed full and each level above is built from the first keys of the level below,
// so the tree needs no splits and every page is written once. An empty tree is one empty leaf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/status.h"
#include "pst/ndb/format.h"

namespace pst::ndb {

struct BlockRef {
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
};

// Places one page whose first kBtEntriesSize+8 bytes (entries, counts, level, padding) are filled;
// it sets the trailer and writes the page, and returns where it went.
using BtPageWriter = std::function<quill::Result<BlockRef>(std::uint8_t* page)>;

// Writes entry i (leafEntrySize bytes, starting with its 8-byte key) to `out`.
using BtLeafEntry = std::function<void(std::size_t i, std::uint8_t* out)>;

// REQUIRES: the keys of entries 0..count-1 ascend strictly.
// Returns the root page; `levels` (if given) receives the number of levels (1 = a lone leaf).
quill::Result<BlockRef> BuildBTree(std::size_t leafEntrySize, std::size_t count, const BtLeafEntry& leafEntry,
                                   const BtPageWriter& writePage, int* levels = nullptr);

}  // namespace pst::ndb
