#include "pst/ndb/sink_base.h"

#include <algorithm>
#include <string>

#include "pst/ndb/tree_blocks.h"

namespace pst::ndb {
namespace {

constexpr std::uint32_t kMaxNidIndex = (1u << 27) - 1;
constexpr std::uint64_t kMaxStreamSize = 0xFFFFFFFFull;

bool IsInternal(BlockKind kind) { return kind != BlockKind::kData; }

std::string Hex(std::uint64_t v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return "0x" + s;
}

}  // namespace

std::uint32_t SinkBase::InitialNidCounter(NidType type) {
  switch (type) {
    case NidType::kSearchFolder:
      return 0x4000;
    case NidType::kNormalMessage:
      return 0x10000;
    case NidType::kAssocMessage:
      return 0x8000;
    default:
      return 0x400;
  }
}

SinkBase::SinkBase() {
  for (std::uint32_t t = 0; t < nidCounters_.size(); ++t) {
    nidCounters_[t] = InitialNidCounter(static_cast<NidType>(t));
  }
}

Bid SinkBase::BidOfIndex(std::size_t index, BlockKind kind) {
  return static_cast<Bid>(index + 1) * kBidStep | (IsInternal(kind) ? kBidInternalBit : 0);
}

const SinkBase::BlockRecord* SinkBase::FindBlock(Bid bid) const {
  if (bid < kBidStep || (bid & 1) != 0) return nullptr;
  const std::uint64_t index = bid / kBidStep - 1;
  if (index >= blocks_.size()) return nullptr;
  const BlockRecord& r = blocks_[index];
  // The internal bit is part of the id: a bid with the wrong bit names no block.
  if (((bid & kBidInternalBit) != 0) != IsInternal(r.kind)) return nullptr;
  return &r;
}

const NodeEntry* SinkBase::FindNodeEntry(Nid nid) const {
  const std::optional<std::size_t> at = nodeIndex_.Find(nid);
  return at ? &nodes_[*at] : nullptr;
}

void SinkBase::Fail(quill::Status status) {
  if (status_.ok()) status_ = std::move(status);
}

quill::Result<Bid> SinkBase::PutBlock(BlockKind kind, std::span<const std::uint8_t> bytes) {
  const Bid bid = BidOfIndex(blocks_.size(), kind);
  quill::Result<std::uint64_t> where = StoreBlock(bid, kind, bytes);
  if (!where.ok()) {
    Fail(where.status());
    return where.status();
  }
  BlockRecord r;
  r.location = *where;
  r.size = static_cast<std::uint16_t>(bytes.size());
  r.kind = kind;
  blocks_.push_back(r);
  return bid;
}

quill::Result<Bid> SinkBase::WriteDataBlock(std::span<const std::uint8_t> data) {
  if (!status_.ok()) return status_;
  if (data.empty() || data.size() > kMaxBlockData) {
    return quill::Status::InvalidArgument("data block of " + std::to_string(data.size()) + " bytes");
  }
  return PutBlock(BlockKind::kData, data);
}

quill::Result<Bid> SinkBase::WriteDataTree(std::span<const Bid> leaves, std::uint64_t totalSize) {
  if (!status_.ok()) return status_;
  if (leaves.empty()) {
    if (totalSize != 0) return quill::Status::InvalidArgument("data tree without leaves but with a size");
    return Bid{0};
  }
  if (totalSize > kMaxStreamSize) return quill::Status::InvalidArgument("data tree of 4 GiB or more");
  if (leaves.size() > kXBlockCapacity * kXBlockCapacity) {
    return quill::Status::InvalidArgument("data tree with too many leaves");
  }
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const BlockRecord* r = FindBlock(leaves[i]);
    if (r == nullptr || r->kind != BlockKind::kData) {
      return quill::Status::InvalidArgument("data tree leaf " + Hex(leaves[i]) + " is not a data block");
    }
    if (i + 1 < leaves.size() && r->size != kMaxBlockData) {
      return quill::Status::InvalidArgument("data tree leaf " + Hex(leaves[i]) + " is not full");
    }
    sum += r->size;
  }
  if (sum != totalSize) return quill::Status::InvalidArgument("data tree size does not match its leaves");
  if (leaves.size() == 1) return leaves[0];

  std::vector<Bid> xblocks;
  std::uint64_t done = 0;
  for (std::size_t first = 0; first < leaves.size(); first += kXBlockCapacity) {
    const std::size_t n = std::min(kXBlockCapacity, leaves.size() - first);
    const std::span<const Bid> group = leaves.subspan(first, n);
    // Every leaf before the last is full, so a group's size follows from the running total.
    const std::uint64_t groupSize =
        first + n == leaves.size() ? totalSize - done : static_cast<std::uint64_t>(n) * kMaxBlockData;
    done += groupSize;
    QUILL_ASSIGN_OR_RETURN(
        Bid x, PutBlock(BlockKind::kXBlock, EncodeXBlock(1, group, static_cast<std::uint32_t>(groupSize))));
    for (Bid leaf : group) ++RecordOf(leaf).refs;
    xblocks.push_back(x);
  }
  if (xblocks.size() == 1) return xblocks[0];
  QUILL_ASSIGN_OR_RETURN(
      Bid xx, PutBlock(BlockKind::kXXBlock, EncodeXBlock(2, xblocks, static_cast<std::uint32_t>(totalSize))));
  for (Bid x : xblocks) ++RecordOf(x).refs;
  return xx;
}

quill::Status SinkBase::CheckRef(Bid bid, bool dataTree, const char* what) const {
  if (bid == 0) return quill::Status::Ok();
  const BlockRecord* r = FindBlock(bid);
  if (r == nullptr)
    return quill::Status::InvalidArgument(std::string(what) + " " + Hex(bid) + " was not written");
  if (dataTree ? !IsDataTreeKind(r->kind) : !IsSubnodeTreeKind(r->kind)) {
    return quill::Status::InvalidArgument(std::string(what) + " " + Hex(bid) + " is the wrong kind of block");
  }
  return quill::Status::Ok();
}

quill::Result<Bid> SinkBase::WriteSubnodeTree(std::span<const SubnodeRef> entries) {
  if (!status_.ok()) return status_;
  if (entries.empty()) return Bid{0};
  if (entries.size() > kSlBlockCapacity * kSiBlockCapacity) {
    return quill::Status::InvalidArgument("too many subnodes for one node");
  }
  std::vector<SubnodeRef> sorted(entries.begin(), entries.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const SubnodeRef& a, const SubnodeRef& b) { return a.nid < b.nid; });
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i > 0 && sorted[i].nid == sorted[i - 1].nid) {
      return quill::Status::InvalidArgument("subnode " + Hex(sorted[i].nid) + " given twice");
    }
    QUILL_RETURN_IF_ERROR(CheckRef(sorted[i].data, true, "subnode data"));
    QUILL_RETURN_IF_ERROR(CheckRef(sorted[i].sub, false, "subnode tree"));
  }

  std::vector<SiEntry> leaves;
  for (std::size_t first = 0; first < sorted.size(); first += kSlBlockCapacity) {
    const std::size_t n = std::min(kSlBlockCapacity, sorted.size() - first);
    const std::span<const SubnodeRef> group(sorted.data() + first, n);
    QUILL_ASSIGN_OR_RETURN(Bid sl, PutBlock(BlockKind::kSlBlock, EncodeSlBlock(group)));
    for (const SubnodeRef& e : group) {
      if (e.data != 0) ++RecordOf(e.data).refs;
      if (e.sub != 0) ++RecordOf(e.sub).refs;
    }
    leaves.push_back(SiEntry{group.front().nid, sl});
  }
  if (leaves.size() == 1) return leaves[0].child;
  QUILL_ASSIGN_OR_RETURN(Bid si, PutBlock(BlockKind::kSiBlock, EncodeSiBlock(leaves)));
  for (const SiEntry& e : leaves) ++RecordOf(e.child).refs;
  return si;
}

quill::Status SinkBase::AddNode(Nid nid, Bid data, Bid sub, Nid parent) {
  if (!status_.ok()) return status_;
  if (nid == 0) return quill::Status::InvalidArgument("node id 0");
  QUILL_RETURN_IF_ERROR(CheckRef(data, true, "node data"));
  QUILL_RETURN_IF_ERROR(CheckRef(sub, false, "node subnode tree"));
  if (!nodeIndex_.Insert(nid, nodes_.size())) {
    return quill::Status::AlreadyExists("node " + Hex(nid) + " added twice");
  }
  if (data != 0) ++RecordOf(data).refs;
  if (sub != 0) ++RecordOf(sub).refs;
  nodes_.push_back(NodeEntry{nid, data, sub, parent});
  // A fixed nid above the counter moves the counter, so AllocateNid never hands it out again.
  std::uint32_t& counter = nidCounters_[nid & 0x1F];
  counter = std::max(counter, NidIndexOf(nid));
  return quill::Status::Ok();
}

Nid SinkBase::AllocateNid(NidType type) {
  std::uint32_t& counter = nidCounters_[static_cast<std::uint32_t>(type) & 0x1F];
  if (counter >= kMaxNidIndex) {
    Fail(quill::Status::NotSupported("no node ids of type " + Hex(static_cast<std::uint32_t>(type)) +
                                     " left"));
    return 0;
  }
  ++counter;
  return MakeNid(type, counter);
}

quill::Status SinkBase::ReleaseUnreferenced() {
  // A tree block always has a higher id than the blocks it points to (they had to exist first),
  // so one pass from the top down sees each block only after everything that could reference it.
  for (std::size_t i = blocks_.size(); i-- > 0;) {
    BlockRecord& r = blocks_[i];
    if (r.refs != 0 || !IsInternal(r.kind)) continue;
    const Bid bid = BidOfIndex(i, r.kind);
    QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> bytes, LoadInternalBlock(bid, r));
    if (IsDataTreeKind(r.kind)) {
      QUILL_ASSIGN_OR_RETURN(XBlockContent x, DecodeXBlock(bytes));
      for (Bid child : x.children) --RecordOf(child).refs;
    } else {
      QUILL_ASSIGN_OR_RETURN(SubnodeBlockContent s, DecodeSubnodeBlock(bytes));
      for (const SubnodeRef& e : s.entries) {
        if (e.data != 0) --RecordOf(e.data).refs;
        if (e.sub != 0) --RecordOf(e.sub).refs;
      }
      for (const SiEntry& e : s.children) --RecordOf(e.child).refs;
    }
  }
  return quill::Status::Ok();
}

}  // namespace pst::ndb
