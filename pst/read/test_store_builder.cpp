#include "pst/read/test_store_builder.h"

#include <algorithm>

#include "pst/read/heap.h"

namespace pst::read::testing {

Bid TestStoreBuilder::AddBlock(const Bytes& data, bool internal) {
  const Bid bid = next_bid_ | (internal ? 2 : 0);
  next_bid_ += 4;
  const std::uint64_t ib = body_.size();
  body_.resize(ib + BlockDiskSize(data.size()), 0);
  std::copy(data.begin(), data.end(), body_.begin() + ib);
  const std::uint64_t t = body_.size() - kBlockTrailerSize;
  PutLe16(body_, t, static_cast<std::uint16_t>(data.size()));
  PutLe16(body_, t + 2, Signature(ib, bid));
  PutLe32(body_, t + 4, PstCrc(data));
  PutLe64(body_, t + 8, bid);
  blocks_.push_back({bid, ib, static_cast<std::uint16_t>(data.size())});
  return bid;
}

Bid TestStoreBuilder::AddDataBlock(const Bytes& data) { return AddBlock(data, false); }

Bid TestStoreBuilder::AddDataTree(const std::vector<Bytes>& leaves, std::size_t fanout) {
  if (leaves.size() == 1) return AddDataBlock(leaves[0]);
  std::vector<Bid> ids;
  std::vector<std::uint32_t> sizes;
  for (const Bytes& l : leaves) {
    ids.push_back(AddDataBlock(l));
    sizes.push_back(static_cast<std::uint32_t>(l.size()));
  }
  auto xblock = [&](std::uint8_t level, const std::vector<Bid>& children, std::uint32_t total) {
    Bytes b(8 + 8 * children.size(), 0);
    b[0] = 0x01;
    b[1] = level;
    PutLe16(b, 2, static_cast<std::uint16_t>(children.size()));
    PutLe32(b, 4, total);
    for (std::size_t i = 0; i < children.size(); ++i) {
      PutLe64(b, 8 + 8 * i, children[i]);
      ++refs_[children[i]];
    }
    return AddBlock(b, true);
  };
  std::uint32_t total = 0;
  for (std::uint32_t s : sizes) total += s;
  if (ids.size() <= fanout) return xblock(1, ids, total);
  std::vector<Bid> inner;
  for (std::size_t i = 0; i < ids.size(); i += fanout) {
    const std::size_t end = std::min(ids.size(), i + fanout);
    std::uint32_t part = 0;
    for (std::size_t k = i; k < end; ++k) part += sizes[k];
    inner.push_back(xblock(1, std::vector<Bid>(ids.begin() + i, ids.begin() + end), part));
  }
  return xblock(2, inner, total);
}

Bid TestStoreBuilder::AddSubnodeTree(const std::vector<SubnodeEntry>& entries, std::size_t per_leaf) {
  auto slblock = [&](std::size_t from, std::size_t to) {
    Bytes b(8 + 24 * (to - from), 0);
    b[0] = 0x02;
    PutLe16(b, 2, static_cast<std::uint16_t>(to - from));
    for (std::size_t i = from; i < to; ++i) {
      PutLe64(b, 8 + 24 * (i - from), entries[i].nid);
      PutLe64(b, 16 + 24 * (i - from), entries[i].data);
      PutLe64(b, 24 + 24 * (i - from), entries[i].sub);
      ++refs_[entries[i].data];
      if (entries[i].sub) ++refs_[entries[i].sub];
    }
    return AddBlock(b, true);
  };
  if (entries.size() <= per_leaf) return slblock(0, entries.size());
  Bytes si(8, 0);
  si[0] = 0x02;
  si[1] = 0x01;
  std::uint16_t count = 0;
  for (std::size_t i = 0; i < entries.size(); i += per_leaf, ++count) {
    const Bid child = slblock(i, std::min(entries.size(), i + per_leaf));
    si.resize(si.size() + 16, 0);
    PutLe64(si, si.size() - 16, entries[i].nid);
    PutLe64(si, si.size() - 8, child);
    ++refs_[child];
  }
  PutLe16(si, 2, count);
  return AddBlock(si, true);
}

void TestStoreBuilder::AddNode(Nid nid, Bid data, Bid sub, Nid parent) {
  nodes_.push_back({nid, data, sub, parent});
  if (data) ++refs_[data];
  if (sub) ++refs_[sub];
}

namespace {

// Writes one B-tree page at the end of `body` and returns its reference.
Bref WritePage(Bytes& body, Bid* next_page, std::uint8_t ptype, std::uint8_t level, std::size_t entry_size,
               const std::vector<Bytes>& entries) {
  const std::uint64_t ib = (body.size() + kPageSize - 1) / kPageSize * kPageSize;
  body.resize(ib + kPageSize, 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::copy(entries[i].begin(), entries[i].end(), body.begin() + ib + i * entry_size);
  }
  body[ib + 488] = static_cast<std::uint8_t>(entries.size());
  body[ib + 489] = static_cast<std::uint8_t>(488 / entry_size);
  body[ib + 490] = static_cast<std::uint8_t>(entry_size);
  body[ib + 491] = level;
  const Bid bid = (*next_page)++;
  body[ib + 496] = ptype;
  body[ib + 497] = ptype;
  PutLe16(body, ib + 498, Signature(ib, bid));
  PutLe64(body, ib + 504, bid);
  FixPageCrc(body, ib);
  return {bid, ib};
}

// A leaf level and, when one page is not enough, one index level above it.
Bref WriteTree(Bytes& body, Bid* next_page, std::uint8_t ptype, std::size_t entry_size,
               const std::vector<Bytes>& entries) {
  const std::size_t per_page = 488 / entry_size;
  if (entries.size() <= per_page) return WritePage(body, next_page, ptype, 0, entry_size, entries);
  std::vector<Bytes> index;
  for (std::size_t i = 0; i < entries.size(); i += per_page) {
    std::vector<Bytes> chunk(entries.begin() + i, entries.begin() + std::min(entries.size(), i + per_page));
    const Bref child = WritePage(body, next_page, ptype, 0, entry_size, chunk);
    Bytes e(24, 0);
    std::copy(chunk[0].begin(), chunk[0].begin() + 8, e.begin());
    PutLe64(e, 8, child.bid);
    PutLe64(e, 16, child.ib);
    index.push_back(e);
  }
  return WritePage(body, next_page, ptype, 1, 24, index);
}

}  // namespace

Bytes TestStoreBuilder::Finish() {
  std::sort(nodes_.begin(), nodes_.end(), [](const auto& a, const auto& b) { return a.nid < b.nid; });
  std::vector<Bytes> nbt;
  for (const NodeEntry& n : nodes_) {
    Bytes e(32, 0);
    PutLe64(e, 0, n.nid);
    PutLe64(e, 8, n.data);
    PutLe64(e, 16, n.sub);
    PutLe32(e, 24, n.parent);
    nbt.push_back(e);
  }
  std::vector<Block> sorted = blocks_;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.bid < b.bid; });
  std::vector<Bytes> bbt;
  for (const Block& b : sorted) {
    Bytes e(24, 0);
    PutLe64(e, 0, b.bid);
    PutLe64(e, 8, b.ib);
    PutLe16(e, 16, b.cb);
    PutLe16(e, 18, static_cast<std::uint16_t>(refs_[b.bid] + 1));
    bbt.push_back(e);
  }
  const Bref nbt_root = WriteTree(body_, &next_page_, kPtypeNbt, 32, nbt);
  const Bref bbt_root = WriteTree(body_, &next_page_, kPtypeBbt, 24, bbt);
  const std::uint64_t regions = (body_.size() - kFirstAmapOffset + kAmapRegionSize - 1) / kAmapRegionSize;
  body_.resize(kFirstAmapOffset + regions * kAmapRegionSize, 0);
  Bytes& h = body_;
  PutLe32(h, 0, 0x4E444221);
  PutLe16(h, 8, 0x4D53);
  PutLe16(h, 10, 23);
  PutLe16(h, 12, 19);
  h[14] = h[15] = 1;
  PutLe64(h, 0x20, next_page_);
  PutLe64(h, 0xB8, body_.size());
  PutLe64(h, 0xC0, kFirstAmapOffset + (regions - 1) * kAmapRegionSize);
  PutLe64(h, 0xD8, nbt_root.bid);
  PutLe64(h, 0xE0, nbt_root.ib);
  PutLe64(h, 0xE8, bbt_root.bid);
  PutLe64(h, 0xF0, bbt_root.ib);
  h[0xF8] = 2;
  h[0x200] = 0x80;
  h[0x201] = kCryptNone;
  PutLe64(h, 0x204, next_bid_);
  FixHeaderCrcs(h);
  return body_;
}

Bytes MakeHeapBlock(std::size_t index, std::uint8_t client, std::uint32_t user_root,
                    const std::vector<Bytes>& allocs) {
  std::size_t header = 2;
  if (index == 0) header = 12;
  if (index >= 8 && (index - 8) % 128 == 0) header = 66;
  Bytes b(header, 0);
  if (index == 0) {
    b[2] = kHeapSignature;
    b[3] = client;
    PutLe32(b, 4, user_root);
  }
  std::vector<std::uint16_t> offsets{static_cast<std::uint16_t>(header)};
  for (const Bytes& a : allocs) {
    b.insert(b.end(), a.begin(), a.end());
    offsets.push_back(static_cast<std::uint16_t>(b.size()));
  }
  if (b.size() % 2) b.push_back(0);
  PutLe16(b, 0, static_cast<std::uint16_t>(b.size()));
  b.resize(b.size() + 4 + 2 * offsets.size(), 0);
  const std::size_t map = Le16(b, 0);
  PutLe16(b, map, static_cast<std::uint16_t>(allocs.size()));
  for (std::size_t i = 0; i < offsets.size(); ++i) PutLe16(b, map + 4 + 2 * i, offsets[i]);
  return b;
}

}  // namespace pst::read::testing
