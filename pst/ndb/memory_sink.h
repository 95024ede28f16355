// MemorySink: a NodeSink that keeps everything in memory, for tests of the layers above.
//
// It applies the same checks, id rules and tree shapes as the file writer, stores blocks
// unencoded, and can hand back what a node holds: its data stream reassembled from its data tree
// and its subnodes flattened from its subnode tree. It can also be told to fail, to exercise a
// caller's error paths.
//
// Not thread-safe. Everything returned is a copy the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pst/ndb/sink_base.h"

namespace pst::ndb {

class MemorySink final : public SinkBase {
 public:
  MemorySink() = default;

  // The node added under `nid`, if any.
  std::optional<NodeEntry> FindNode(Nid nid) const;
  // Every node added, sorted by nid.
  std::vector<NodeEntry> Nodes() const;

  // The bytes of the stream whose top is `bid` (a data block, XBLOCK or XXBLOCK); empty for 0.
  // Errors: NotFound for an unknown id, Corruption for a tree that does not add up.
  quill::Result<std::vector<std::uint8_t>> ReadData(Bid bid) const;
  // The data blocks of that stream, one entry each, in order: what a reader of a heap on the node
  // sees block by block. Errors as for ReadData.
  quill::Result<std::vector<std::vector<std::uint8_t>>> ReadLeaves(Bid bid) const;
  // The entries of the subnode tree whose top is `bid`, sorted by nid; empty for 0.
  quill::Result<std::vector<SubnodeRef>> ReadSubnodes(Bid bid) const;

  // ReadData / ReadSubnodes of a top-level node. Errors: NotFound for a nid never added.
  quill::Result<std::vector<std::uint8_t>> ReadNodeData(Nid nid) const;
  quill::Result<std::vector<SubnodeRef>> ReadNodeSubnodes(Nid nid) const;

  struct BlockInfo {
    BlockKind kind = BlockKind::kData;
    std::size_t size = 0;    // data bytes
    std::uint32_t refs = 0;  // references from nodes and trees
  };
  std::optional<BlockInfo> DescribeBlock(Bid bid) const;
  std::size_t blockCount() const { return blocks().size(); }

  // After `count` more blocks are stored, every store fails with an IO error (and, as with a
  // real disk error, the sink stays failed).
  void FailAfterBlocks(std::size_t count) { failAfter_ = count; }

 protected:
  quill::Result<std::uint64_t> StoreBlock(Bid bid, BlockKind kind,
                                          std::span<const std::uint8_t> bytes) override;
  quill::Result<std::vector<std::uint8_t>> LoadInternalBlock(Bid bid, const BlockRecord& record) override;

 private:
  quill::Status AppendLeaves(Bid bid, int depth, std::vector<std::vector<std::uint8_t>>& out) const;
  quill::Status AppendSubnodes(Bid bid, int depth, std::vector<SubnodeRef>& out) const;

  std::vector<std::vector<std::uint8_t>> bytes_;
  std::optional<std::size_t> failAfter_;
};

}  // namespace pst::ndb
