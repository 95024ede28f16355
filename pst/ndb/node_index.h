// NodeIndex: where each node sits among the nodes added, by node id.
//
// Node ids are handed out in sequence, one counter per type, so positions are kept in one growing
// table per type indexed by the id's index. A hash map of a million nodes stopped the writer for
// tens of milliseconds each time it rehashed, and took ten times the memory. An id chosen by the
// caller far past its type's table goes to a small map instead, so a stray id cannot make the
// table huge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

#include "pst/ndb/node_sink.h"

namespace pst::ndb {

class NodeIndex {
 public:
  // How far past its table's end an id may be and still extend the table: far enough for the
  // first id of every counter (messages start at index 0x10001), small enough that a stray id
  // costs at most a megabyte.
  static constexpr std::uint32_t kTableSlack = 1u << 18;

  // Records that `nid` is at `position`. False, and nothing changed, when `nid` is already there.
  bool Insert(Nid nid, std::size_t position);
  std::optional<std::size_t> Find(Nid nid) const;

 private:
  static constexpr std::uint32_t kAbsent = UINT32_MAX;

  std::array<std::deque<std::uint32_t>, 32> tables_;  // Deques: growing never moves or copies.
  std::unordered_map<Nid, std::size_t> far_;
};

}  // namespace pst::ndb
