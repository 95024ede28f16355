// KeyedList: an ordered list of strings, each entered under a unique string key.
//
// The collector fills two of these (the files and the folders of a walk); the engine reads them in
// order. Adding under a key that is already present fails and leaves the list unchanged. A walk
// may list millions of files, so both are kept compactly: the items' bytes in large blocks that
// never move (so the list never holds two copies while it grows), the keys' bytes back to back,
// found through an open-addressing table of their positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace fs {

class KeyedList {
 public:
  // Appends `item` under `key`; AlreadyExists (naming the key) when the key is taken.
  quill::Status Add(std::string item, std::string_view key);

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // REQUIRES: index < Count(). Items keep the order in which they were added. The view stays
  // valid until Clear.
  std::string_view Item(std::size_t index) const {
    const ItemRef& r = items_[index];
    return std::string_view(blocks_[r.block].get() + r.offset, r.length);
  }
  // Every item, copied: for small lists and tests; walk a large one with Item.
  std::vector<std::string> Items() const;
  bool ContainsKey(std::string_view key) const;
  void Clear();

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  struct ItemRef {
    std::uint32_t block;
    std::uint32_t offset;
    std::uint32_t length;
  };

  std::string_view KeyAt(std::uint32_t index) const;
  static std::uint32_t HashOf(std::string_view key);
  // The slot that holds `key` (whose hash is `hash`), or the empty slot where it would go.
  std::size_t SlotOf(std::string_view key, std::uint32_t hash) const;
  void Grow();

  std::vector<std::unique_ptr<char[]>> blocks_;  // kBlockBytes each, or one long item alone
  std::size_t blockUsed_ = 0;                    // in the last block
  std::vector<ItemRef> items_;
  std::string keyBytes_;                  // every key, back to back
  std::vector<std::uint32_t> keyEnds_;    // where key i ends in keyBytes_
  std::vector<std::uint32_t> keyHashes_;  // the hash of key i
  std::vector<std::uint32_t> slots_;      // indexes of keys by hash; kEmpty where free
};

}  // namespace fs
