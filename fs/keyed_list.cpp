#include "fs/keyed_list.h"

#include <functional>
#include <string>

namespace fs {

std::string_view KeyedList::KeyAt(std::uint32_t index) const {
  const std::uint32_t begin = index == 0 ? 0 : keyEnds_[index - 1];
  return std::string_view(keyBytes_).substr(begin, keyEnds_[index] - begin);
}

std::size_t KeyedList::SlotOf(std::string_view key) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = std::hash<std::string_view>()(key) & mask;
  while (slots_[slot] != kEmpty && KeyAt(slots_[slot]) != key) slot = (slot + 1) & mask;
  return slot;
}

void KeyedList::Grow() {
  std::vector<std::uint32_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, kEmpty);
  for (std::uint32_t index : old) {
    if (index != kEmpty) slots_[SlotOf(KeyAt(index))] = index;
  }
}

bool KeyedList::ContainsKey(std::string_view key) const {
  return !slots_.empty() && slots_[SlotOf(key)] != kEmpty;
}

quill::Status KeyedList::Add(std::string item, std::string_view key) {
  if (ContainsKey(key)) {
    return quill::Status::AlreadyExists("This key is already associated with an element of this collection: " +
                                        std::string(key));
  }
  if (keyBytes_.size() + key.size() > kEmpty - 1 || keyEnds_.size() >= kEmpty - 1) {
    return quill::Status::InvalidArgument("too many keys in one list");
  }
  // Kept at most half full, so a look-up ends after a few probes.
  if (2 * (keyEnds_.size() + 1) > slots_.size()) Grow();
  keyBytes_.append(key);
  keyEnds_.push_back(static_cast<std::uint32_t>(keyBytes_.size()));
  slots_[SlotOf(key)] = static_cast<std::uint32_t>(keyEnds_.size() - 1);
  items_.push_back(std::move(item));
  return quill::Status::Ok();
}

void KeyedList::Clear() {
  std::vector<std::string>().swap(items_);
  std::string().swap(keyBytes_);
  std::vector<std::uint32_t>().swap(keyEnds_);
  std::vector<std::uint32_t>().swap(slots_);
}

}  // namespace fs
