// Test support for the LTP builders: the node database's in-memory sink with the views these tests
// read through, and an independent reader of heaps, BTrees-on-heap, property contexts and table
// contexts that checks the layout rules as it goes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/ltp/node_content.h"
#include "pst/ndb/memory_sink.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp::testing {

using Bytes = std::vector<std::uint8_t>;

// A sink for the builders under test: ndb::MemorySink, which holds the callers to the sink
// contract and shapes trees the way the file writer does, with views that read back what it holds.
// A broken contract is a failed call there, and so a failed test here.
class FakeSink final : public ndb::NodeSink {
 public:
  quill::Result<ndb::Bid> WriteDataBlock(std::span<const std::uint8_t> data) override {
    return memory_.WriteDataBlock(data);
  }
  quill::Result<ndb::Bid> WriteDataTree(std::span<const ndb::Bid> leaves, std::uint64_t totalSize) override {
    return memory_.WriteDataTree(leaves, totalSize);
  }
  quill::Result<ndb::Bid> WriteSubnodeTree(std::span<const ndb::SubnodeRef> entries) override {
    return memory_.WriteSubnodeTree(entries);
  }
  quill::Status AddNode(ndb::Nid nid, ndb::Bid data, ndb::Bid sub, ndb::Nid parent) override {
    return memory_.AddNode(nid, data, sub, parent);
  }
  ndb::Nid AllocateNid(ndb::NidType type) override { return memory_.AllocateNid(type); }

  // The data blocks of the stream whose top is `bid`, in order; empty for 0. Fails the test for
  // an unknown id or a tree that does not add up.
  std::vector<Bytes> Leaves(ndb::Bid bid) const;
  Bytes Stream(ndb::Bid bid) const;
  // The entries of the subnode tree whose top is `bid`, sorted by nid; empty for 0.
  std::vector<ndb::SubnodeRef> Subnodes(ndb::Bid bid) const;

  struct Node {
    ndb::Bid data = 0, sub = 0;
    ndb::Nid parent = 0;
  };
  // Every node added, by nid. Stays valid, with its iterators, until the next node is added.
  const std::map<ndb::Nid, Node>& nodes() const;

  // After `count` more blocks are stored, every write fails with an IO error.
  void FailAfterBlocks(std::size_t count) { memory_.FailAfterBlocks(count); }

 private:
  ndb::MemorySink memory_;
  mutable std::map<ndb::Nid, Node> nodes_;  // nodes() as last asked for
};

std::uint64_t Le(const Bytes& b, std::size_t at, std::size_t width);

// A heap read back from its blocks. Parsing checks the signature, the header kinds by block
// number, the page-map offsets and that allocations are in bounds; failures are reported as
// gtest failures and leave `ok` false.
struct ParsedHeap {
  bool ok = false;
  std::uint8_t clientSig = 0;
  std::uint32_t userRoot = 0;
  std::vector<std::uint8_t> fillLevels;   // one per block, from HNHDR / HNBITMAPHDR
  std::vector<std::vector<Bytes>> items;  // [block][index - 1]

  const Bytes* Item(std::uint32_t hid) const;
};
ParsedHeap ParseHeap(const std::vector<Bytes>& blocks);

struct ParsedBth {
  bool ok = false;
  std::size_t keySize = 0, valueSize = 0, levels = 0;
  std::vector<std::pair<Bytes, Bytes>> records;  // leaf records in tree order
};
ParsedBth ParseBth(const ParsedHeap& heap, std::uint32_t headerHid);

// Resolves an HNID of a context: a heap item, or a subnode (looked up in `subnodes`).
std::optional<Bytes> ResolveHnid(const FakeSink& sink, const ParsedHeap& heap,
                                 const std::vector<ndb::SubnodeRef>& subnodes, std::uint32_t hnid);

struct ParsedProp {
  std::uint16_t type = 0;
  std::uint32_t hnid = 0;
  Bytes value;  // resolved for non-inline types; the 4 raw bytes for inline ones
};
// Property id -> property, for the node content a PropertyContextBuilder built.
std::map<std::uint16_t, ParsedProp> ReadPropertyContext(const FakeSink& sink, const NodeContent& content);

struct ParsedColumn {
  std::uint32_t tag = 0;
  std::uint16_t offset = 0;
  std::uint8_t size = 0, bit = 0;
};
struct ParsedTable {
  bool ok = false;
  std::uint16_t rgib[4] = {};
  std::vector<ParsedColumn> columns;
  std::uint32_t hnidRows = 0;
  std::vector<std::uint32_t> indexKeys;  // row ids in row-index order
  std::vector<std::uint32_t> indexRows;  // matching row numbers
  std::vector<Bytes> rows;               // raw rows in matrix order
  std::vector<Bytes> matrixBlocks;       // when the matrix is a subnode
  // Value of a cell: nullopt when absent; resolved bytes for reference cells.
  std::optional<Bytes> Cell(const FakeSink& sink, const NodeContent& content, std::size_t row,
                            std::uint32_t tag) const;
  ParsedHeap heap;
};
ParsedTable ReadTableContext(const FakeSink& sink, const NodeContent& content);

Bytes Utf16Le(std::u16string_view s);

// The value of a result that a test expects to succeed (a default value, and a failure, if not).
template <typename T>
T Must(quill::Result<T> result) {
  if (!result.ok()) {
    ADD_FAILURE() << result.status().ToString();
    return T{};
  }
  return std::move(result).value();
}

}  // namespace pst::ltp::testing
