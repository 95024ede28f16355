// NodeSink: what the heap, property and table layer needs from the node database.
//
// The LTP layer turns properties and tables into bytes; the node database decides where those bytes
// go in the file, encodes them, and indexes them. This interface is the whole contract between the
// two, so each side can be built and tested alone (an in-memory sink for the LTP tests, the real
// file writer in production).
//
// Blocks are written as soon as they are handed over, so a caller may stream a large value block by
// block and keep only the block ids. Nothing written can be taken back; a failed write leaves the
// sink unusable (every later call fails with the same status).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status.h"

namespace pst::ndb {

using Nid = std::uint32_t;
using Bid = std::uint64_t;

// The most bytes one data block holds (8192 on disk less the 16-byte trailer).
inline constexpr std::size_t kMaxBlockData = 8176;

enum class NidType : std::uint8_t {
  kHid = 0x00,
  kInternal = 0x01,
  kNormalFolder = 0x02,
  kSearchFolder = 0x03,
  kNormalMessage = 0x04,
  kAttachment = 0x05,
  kSearchUpdateQueue = 0x06,
  kSearchCriteriaObject = 0x07,
  kAssocMessage = 0x08,
  kContentsTableIndex = 0x0A,
  kReceiveFolderTable = 0x0B,
  kOutgoingQueueTable = 0x0C,
  kHierarchyTable = 0x0D,
  kContentsTable = 0x0E,
  kAssocContentsTable = 0x0F,
  kSearchContentsTable = 0x10,
  kAttachmentTable = 0x11,
  kRecipientTable = 0x12,
  kSearchTableIndex = 0x13,
  kLtp = 0x1F,
};

constexpr Nid MakeNid(NidType type, std::uint32_t index) {
  return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType NidTypeOf(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t NidIndexOf(Nid nid) { return nid >> 5; }

// One entry of a subnode tree: a node that lives inside another node.
struct SubnodeRef {
  Nid nid = 0;
  Bid data = 0;  // the subnode's data (a data block or the top of a data tree); 0 for none
  Bid sub = 0;   // the subnode's own subnode tree; 0 for none
};

class NodeSink {
 public:
  virtual ~NodeSink() = default;

  // Writes one data block and returns its id.
  // REQUIRES: 1 <= data.size() <= kMaxBlockData.
  virtual quill::Result<Bid> WriteDataBlock(std::span<const std::uint8_t> data) = 0;

  // Builds the data tree (XBLOCK, and XXBLOCK above it when needed) over `leaves`, which are data
  // blocks written by WriteDataBlock, in stream order. Returns the id of the tree's top: the leaf
  // itself when there is one leaf, 0 when there are none.
  // REQUIRES: every leaf but the last holds exactly kMaxBlockData bytes; totalSize is the sum of
  // the leaves' sizes and is below 4 GiB.
  virtual quill::Result<Bid> WriteDataTree(std::span<const Bid> leaves, std::uint64_t totalSize) = 0;

  // Builds the subnode tree (SLBLOCK, and SIBLOCK above it when needed) over `entries`, which may
  // come in any order. Returns the id of its top, or 0 when `entries` is empty.
  // REQUIRES: the nids in `entries` are distinct.
  virtual quill::Result<Bid> WriteSubnodeTree(std::span<const SubnodeRef> entries) = 0;

  // Enters a top-level node into the node B-tree. `data` and `sub` are ids returned above (or 0).
  // REQUIRES: nid has not been added before.
  virtual quill::Status AddNode(Nid nid, Bid data, Bid sub, Nid parent) = 0;

  // A top-level nid of `type` that has not been handed out before (the file's per-type counters).
  virtual Nid AllocateNid(NidType type) = 0;
};

}  // namespace pst::ndb
