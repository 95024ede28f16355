// KeyedList: an ordered list of strings, each entered under a unique string key.
//
// The collector fills two of these (the files and the folders of a walk); the engine reads them in
// order. Adding under a key that is already present fails and leaves the list unchanged. A walk
// may list millions of files, so the keys are kept compactly: their bytes back to back, found
// through an open-addressing table of their positions.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // REQUIRES: index < Count(). Items keep the order in which they were added.
  const std::string& Item(std::size_t index) const { return items_[index]; }
  const std::vector<std::string>& Items() const { return items_; }
  bool ContainsKey(std::string_view key) const;
  void Clear();

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  std::string_view KeyAt(std::uint32_t index) const;
  // The slot that holds `key`, or the empty slot where it would go.
  std::size_t SlotOf(std::string_view key) const;
  void Grow();

  std::vector<std::string> items_;
  std::string keyBytes_;               // every key, back to back
  std::vector<std::uint32_t> keyEnds_; // where key i ends in keyBytes_
  std::vector<std::uint32_t> slots_;   // indexes of keys by hash; kEmpty where free
};

}  // namespace fs
