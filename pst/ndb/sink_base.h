// SinkBase: what every NodeSink shares, whatever it stores into.
//
// It checks the callers' side of the contract (block sizes, leaf sizes, kinds of referenced
// blocks, distinct nids), allocates block ids and top-level nids by the file's rules, shapes data
// trees and subnode trees, and counts how often each block is referenced. A subclass decides only
// where block bytes go (StoreBlock) and how to get an internal block back (LoadInternalBlock).
//
// Block ids are handed out in steps of kBidStep starting at kBidStep, with kBidInternalBit set on
// tree blocks, so a block's record is found by index (bid / kBidStep - 1) with no search.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "common/status.h"
#include "pst/ndb/format.h"
#include "pst/ndb/node_index.h"
#include "pst/ndb/node_sink.h"

namespace pst::ndb {

// One entry of the node B-tree as the caller gave it.
struct NodeEntry {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
  Nid parent = 0;
};

class SinkBase : public NodeSink {
 public:
  SinkBase();
  SinkBase(const SinkBase&) = delete;
  SinkBase& operator=(const SinkBase&) = delete;

  // Errors: InvalidArgument when a REQUIRES of NodeSink is broken (nothing is written then, and
  // the sink stays usable); the sticky status after a failed store.
  quill::Result<Bid> WriteDataBlock(std::span<const std::uint8_t> data) final;
  quill::Result<Bid> WriteDataTree(std::span<const Bid> leaves, std::uint64_t totalSize) final;
  quill::Result<Bid> WriteSubnodeTree(std::span<const SubnodeRef> entries) final;
  // Also: AlreadyExists for a nid added before, InvalidArgument for nid 0 or a block of the
  // wrong kind.
  quill::Status AddNode(Nid nid, Bid data, Bid sub, Nid parent) final;
  Nid AllocateNid(NidType type) final;

  // Ok, or the failure that made the sink unusable.
  const quill::Status& status() const { return status_; }

  // The last nid index handed out or used per nid type (the header's rgnid).
  const std::array<std::uint32_t, 32>& nidCounters() const { return nidCounters_; }

  // The id the next block would get (the header's bidNextB).
  Bid nextBlockId() const { return static_cast<Bid>(blocks_.size() + 1) * kBidStep; }

  // First nid index AllocateNid hands out after a fresh start, per type.
  static std::uint32_t InitialNidCounter(NidType type);

 protected:
  struct BlockRecord {
    std::uint64_t location = 0;  // the subclass's: a file offset, an index, ...
    std::uint32_t refs = 0;      // references from trees and nodes (the BBT's own one excluded)
    std::uint16_t size = 0;      // data bytes (cb)
    BlockKind kind = BlockKind::kData;
  };

  // Stores one block and returns where it went. `bytes` are the plain data for external blocks
  // (the subclass encodes them if it wants) and the finished tree bytes for internal ones.
  virtual quill::Result<std::uint64_t> StoreBlock(Bid bid, BlockKind kind,
                                                  std::span<const std::uint8_t> bytes) = 0;

  // Returns the bytes of an internal block stored before.
  virtual quill::Result<std::vector<std::uint8_t>> LoadInternalBlock(Bid bid, const BlockRecord& record) = 0;

  // Drops the references held by tree blocks that nothing references, recursively, so that
  // exactly the blocks reachable from nodes keep refs > 0. Run once, after the last AddNode.
  quill::Status ReleaseUnreferenced();

  // Makes the sink unusable; every later call returns `status`.
  void Fail(quill::Status status);

  const std::deque<BlockRecord>& blocks() const { return blocks_; }
  const std::deque<NodeEntry>& nodes() const { return nodes_; }
  // The node added under `nid`, or null. Only valid while nodes() is in the order of adding.
  const NodeEntry* FindNodeEntry(Nid nid) const;
  // For sorting at the end; FindNodeEntry may not be used afterwards.
  std::deque<NodeEntry>& mutableNodes() { return nodes_; }

  static Bid BidOfIndex(std::size_t index, BlockKind kind);
  // The record of `bid`, or null when no such block was written.
  const BlockRecord* FindBlock(Bid bid) const;

 private:
  quill::Result<Bid> PutBlock(BlockKind kind, std::span<const std::uint8_t> bytes);
  BlockRecord& RecordOf(Bid bid) { return blocks_[bid / kBidStep - 1]; }
  quill::Status CheckRef(Bid bid, bool dataTree, const char* what) const;

  quill::Status status_;
  // Deques, not vectors: a store of a million messages has millions of records, and a vector's
  // growth would briefly hold the old and the new copy of them all.
  std::deque<BlockRecord> blocks_;
  std::deque<NodeEntry> nodes_;
  NodeIndex nodeIndex_;  // nid -> position in nodes_ as added
  std::array<std::uint32_t, 32> nidCounters_{};
};

}  // namespace pst::ndb
