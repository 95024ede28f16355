#include "fs/keyed_list.h"

#include <algorithm>
#include <functional>
#include <string>

namespace fs {

std::string_view KeyedList::KeyAt(std::uint32_t index) const {
  const std::uint32_t begin = index == 0 ? 0 : keyEnds_[index - 1];
  return std::string_view(keyBytes_).substr(begin, keyEnds_[index] - begin);
}

std::uint32_t KeyedList::HashOf(std::string_view key) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>()(key));
}

std::size_t KeyedList::SlotOf(std::string_view key, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash & mask;
  while (slots_[slot] != kEmpty && (keyHashes_[slots_[slot]] != hash || KeyAt(slots_[slot]) != key)) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

// Keys are unique and their hashes kept, so growing only places each index anew: no key is read
// or hashed again, which keeps a walk of millions of files from pausing at each doubling.
void KeyedList::Grow() {
  slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, kEmpty);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint32_t index = 0; index < keyHashes_.size(); ++index) {
    std::size_t slot = keyHashes_[index] & mask;
    while (slots_[slot] != kEmpty) slot = (slot + 1) & mask;
    slots_[slot] = index;
  }
}

bool KeyedList::ContainsKey(std::string_view key) const {
  return !slots_.empty() && slots_[SlotOf(key, HashOf(key))] != kEmpty;
}

quill::Status KeyedList::Add(std::string item, std::string_view key) {
  const std::uint32_t hash = HashOf(key);
  if (!slots_.empty() && slots_[SlotOf(key, hash)] != kEmpty) {
    return quill::Status::AlreadyExists(
        "This key is already associated with an element of this collection: " + std::string(key));
  }
  if (keyBytes_.size() + key.size() > kEmpty - 1 || keyEnds_.size() >= kEmpty - 1 || item.size() >= kEmpty) {
    return quill::Status::InvalidArgument("too many keys in one list");
  }
  // Kept at most half full, so a look-up ends after a few probes.
  if (2 * (keyEnds_.size() + 1) > slots_.size()) Grow();
  const std::size_t slot = SlotOf(key, hash);
  keyBytes_.append(key);
  keyEnds_.push_back(static_cast<std::uint32_t>(keyBytes_.size()));
  keyHashes_.push_back(hash);
  slots_[slot] = static_cast<std::uint32_t>(keyEnds_.size() - 1);
  if (blocks_.empty() || blockUsed_ + item.size() > kBlockBytes) {
    blocks_.push_back(std::make_unique<char[]>(std::max(kBlockBytes, item.size())));
    blockUsed_ = 0;
  }
  std::copy(item.begin(), item.end(), blocks_.back().get() + blockUsed_);
  items_.push_back({static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(blockUsed_),
                    static_cast<std::uint32_t>(item.size())});
  // An item longer than a block has its block to itself: the next one starts a new block.
  blockUsed_ = item.size() > kBlockBytes ? kBlockBytes : blockUsed_ + item.size();
  return quill::Status::Ok();
}

std::vector<std::string> KeyedList::Items() const {
  std::vector<std::string> out;
  out.reserve(Count());
  for (std::size_t i = 0; i < Count(); ++i) out.emplace_back(Item(i));
  return out;
}

void KeyedList::Clear() {
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  blockUsed_ = 0;
  std::vector<ItemRef>().swap(items_);
  std::string().swap(keyBytes_);
  std::vector<std::uint32_t>().swap(keyEnds_);
  std::vector<std::uint32_t>().swap(keyHashes_);
  std::vector<std::uint32_t>().swap(slots_);
}

}  // namespace fs
