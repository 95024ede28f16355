// Property context: a heap (client signature 0xBC) whose root is a BTree-on-heap of
// 8-byte records {property id (2), type (2), value or HNID (4)}.
//
// Values of up to four bytes sit in the record; 8- and 16-byte values in a heap allocation; strings,
// binaries, objects and multi-valued properties in a heap allocation or, when large, in a subnode
// of the node the context belongs to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/read/heap.h"
#include "pst/read/properties.h"
#include "pst/read/pst_file.h"

namespace pst::read {

// Bytes of a variable-size value: an HNID is a heap id when its low five bits are zero, otherwise
// a subnode of `node`; 0 is the empty value.
Result<std::vector<std::uint8_t>> ReadHnid(const PstFile& file, const Node& node, const Heap& heap,
                                           std::uint32_t hnid);

struct PropertyContext {
  Properties props;
  // Faults that did not stop the read (a value that failed to resolve is left out and named here).
  std::vector<std::string> issues;
};

// REQUIRES: `node` was loaded from `file`. Corruption when the node is not a property context.
Result<PropertyContext> ReadPropertyContext(const PstFile& file, const Node& node);

}  // namespace pst::read
