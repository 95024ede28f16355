// KeyedList: an ordered list of strings, each entered under a unique string key.
//
// The collector fills two of these (the files and the folders of a walk); the engine reads them in
// order. Adding under a key that is already present fails and leaves the list unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/status.h"

namespace fs {

class KeyedList {
 public:
  // Appends `item` under `key`; AlreadyExists (naming the key) when the key is taken.
  quill::Status Add(std::string item, std::string key);

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // REQUIRES: index < Count(). Items keep the order in which they were added.
  const std::string& Item(std::size_t index) const { return items_[index]; }
  const std::vector<std::string>& Items() const { return items_; }
  bool ContainsKey(const std::string& key) const { return keys_.count(key) != 0; }
  void Clear();

 private:
  std::vector<std::string> items_;
  std::unordered_set<std::string> keys_;
};

}  // namespace fs
