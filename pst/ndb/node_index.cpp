#include "pst/ndb/node_index.h"

namespace pst::ndb {

bool NodeIndex::Insert(Nid nid, std::size_t position) {
  if (Find(nid).has_value()) return false;
  std::deque<std::uint32_t>& table = tables_[nid & 0x1F];
  const std::uint32_t index = NidIndexOf(nid);
  if (index < table.size() + kTableSlack && position < kAbsent) {
    if (index >= table.size()) table.resize(std::size_t{index} + 1, kAbsent);
    table[index] = static_cast<std::uint32_t>(position);
  } else {
    far_.emplace(nid, position);
  }
  return true;
}

std::optional<std::size_t> NodeIndex::Find(Nid nid) const {
  const std::deque<std::uint32_t>& table = tables_[nid & 0x1F];
  const std::uint32_t index = NidIndexOf(nid);
  if (index < table.size() && table[index] != kAbsent) return table[index];
  const auto it = far_.find(nid);
  if (it == far_.end()) return std::nullopt;
  return it->second;
}

}  // namespace pst::ndb
