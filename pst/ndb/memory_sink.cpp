#include "pst/ndb/memory_sink.h"

#include <algorithm>

#include "pst/ndb/tree_blocks.h"

namespace pst::ndb {

quill::Result<std::uint64_t> MemorySink::StoreBlock(Bid, BlockKind, std::span<const std::uint8_t> bytes) {
  if (failAfter_.has_value()) {
    if (*failAfter_ == 0) return quill::Status::IOError("injected write failure");
    --*failAfter_;
  }
  bytes_.emplace_back(bytes.begin(), bytes.end());
  return static_cast<std::uint64_t>(bytes_.size() - 1);
}

quill::Result<std::vector<std::uint8_t>> MemorySink::LoadInternalBlock(Bid, const BlockRecord& record) {
  return bytes_[record.location];
}

std::optional<NodeEntry> MemorySink::FindNode(Nid nid) const {
  const NodeEntry* n = FindNodeEntry(nid);
  if (n == nullptr) return std::nullopt;
  return *n;
}

std::vector<NodeEntry> MemorySink::Nodes() const {
  std::vector<NodeEntry> out(nodes().begin(), nodes().end());
  std::sort(out.begin(), out.end(), [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
  return out;
}

std::optional<MemorySink::BlockInfo> MemorySink::DescribeBlock(Bid bid) const {
  const BlockRecord* r = SinkBase::FindBlock(bid);
  if (r == nullptr) return std::nullopt;
  return BlockInfo{r->kind, r->size, r->refs};
}

quill::Status MemorySink::AppendLeaves(Bid bid, int depth,
                                       std::vector<std::vector<std::uint8_t>>& out) const {
  const BlockRecord* r = SinkBase::FindBlock(bid);
  if (r == nullptr) return quill::Status::NotFound("no block with this id");
  const std::vector<std::uint8_t>& bytes = bytes_[r->location];
  if (r->kind == BlockKind::kData) {
    out.push_back(bytes);
    return quill::Status::Ok();
  }
  if (!IsDataTreeKind(r->kind) || depth > 2) return quill::Status::Corruption("not a data tree");
  QUILL_ASSIGN_OR_RETURN(XBlockContent x, DecodeXBlock(bytes));
  const std::size_t before = out.size();
  for (Bid child : x.children) QUILL_RETURN_IF_ERROR(AppendLeaves(child, depth + 1, out));
  std::uint64_t total = 0;
  for (std::size_t i = before; i < out.size(); ++i) total += out[i].size();
  if (total != x.totalSize) return quill::Status::Corruption("data tree size mismatch");
  return quill::Status::Ok();
}

quill::Status MemorySink::AppendSubnodes(Bid bid, int depth, std::vector<SubnodeRef>& out) const {
  const BlockRecord* r = SinkBase::FindBlock(bid);
  if (r == nullptr) return quill::Status::NotFound("no block with this id");
  if (!IsSubnodeTreeKind(r->kind) || depth > 1) return quill::Status::Corruption("not a subnode tree");
  QUILL_ASSIGN_OR_RETURN(SubnodeBlockContent s, DecodeSubnodeBlock(bytes_[r->location]));
  out.insert(out.end(), s.entries.begin(), s.entries.end());
  for (const SiEntry& e : s.children) QUILL_RETURN_IF_ERROR(AppendSubnodes(e.child, depth + 1, out));
  return quill::Status::Ok();
}

quill::Result<std::vector<std::uint8_t>> MemorySink::ReadData(Bid bid) const {
  std::vector<std::vector<std::uint8_t>> leaves;
  if (bid != 0) QUILL_RETURN_IF_ERROR(AppendLeaves(bid, 0, leaves));
  std::vector<std::uint8_t> out;
  for (const std::vector<std::uint8_t>& leaf : leaves) out.insert(out.end(), leaf.begin(), leaf.end());
  return out;
}

quill::Result<std::vector<std::vector<std::uint8_t>>> MemorySink::ReadLeaves(Bid bid) const {
  std::vector<std::vector<std::uint8_t>> leaves;
  if (bid != 0) QUILL_RETURN_IF_ERROR(AppendLeaves(bid, 0, leaves));
  return leaves;
}

quill::Result<std::vector<SubnodeRef>> MemorySink::ReadSubnodes(Bid bid) const {
  std::vector<SubnodeRef> out;
  if (bid != 0) QUILL_RETURN_IF_ERROR(AppendSubnodes(bid, 0, out));
  return out;
}

quill::Result<std::vector<std::uint8_t>> MemorySink::ReadNodeData(Nid nid) const {
  std::optional<NodeEntry> n = FindNode(nid);
  if (!n) return quill::Status::NotFound("no node with this id");
  return ReadData(n->data);
}

quill::Result<std::vector<SubnodeRef>> MemorySink::ReadNodeSubnodes(Nid nid) const {
  std::optional<NodeEntry> n = FindNode(nid);
  if (!n) return quill::Status::NotFound("no node with this id");
  return ReadSubnodes(n->sub);
}

}  // namespace pst::ndb
