#include "pst/ndb/ndb_test_reader.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "pst/ndb/crc.h"
#include "pst/ndb/file_layout.h"
#include "pst/ndb/permute.h"

namespace pst::ndb::test_reader {
namespace {

quill::Status Bad(const std::string& what, std::uint64_t where) {
  return quill::Status::Corruption(what + " at " + std::to_string(where));
}

quill::Status CheckPage(const ParsedFile& f, std::uint64_t ib, std::uint8_t ptype, bool btree) {
  if (ib % kPageSize != 0 || ib + kPageSize > f.bytes.size()) return Bad("page out of place", ib);
  const std::uint8_t* p = &f.bytes[ib];
  const std::uint8_t* t = p + kPageContentSize;
  if (t[0] != ptype || t[1] != ptype) return Bad("wrong page type", ib);
  if (Get32(t + 4) != ComputeCrc({p, kPageContentSize})) return Bad("page CRC", ib);
  const std::uint64_t bid = Get64(t + 8);
  if (btree) {
    if (Get16(t + 2) != ComputeSignature(ib, bid)) return Bad("page signature", ib);
  } else if (Get16(t + 2) != 0 || bid != ib) {
    return Bad("map page trailer", ib);
  }
  return quill::Status::Ok();
}

// Walks one B-tree; `leaf` receives every leaf entry. Returns the first key of the page.
quill::Status WalkTree(ParsedFile& f, std::uint64_t ib, std::uint64_t expectBid, std::uint8_t ptype,
                       int expectLevel, std::size_t leafSize, std::uint64_t* lastKey, bool* any,
                       std::uint64_t* firstKey, int* levels,
                       const std::function<void(const std::uint8_t*)>& leaf) {
  QUILL_RETURN_IF_ERROR(CheckPage(f, ib, ptype, true));
  const std::uint8_t* p = &f.bytes[ib];
  if (Get64(p + kPageContentSize + 8) != expectBid) return Bad("page id differs from its reference", ib);
  f.btPages.push_back(ib);
  f.maxPageBid = std::max(f.maxPageBid, expectBid);
  const int count = p[kBtCountOffset];
  const int level = p[kBtLevelOffset];
  const std::size_t entrySize = level == 0 ? leafSize : kBtIndexEntrySize;
  if (p[kBtEntrySizeOffset] != entrySize || p[kBtMaxCountOffset] != kBtEntriesSize / entrySize ||
      count > p[kBtMaxCountOffset]) {
    return Bad("page entry geometry", ib);
  }
  if (Get32(p + 492) != 0) return Bad("page padding", ib);
  if (expectLevel >= 0 && level != expectLevel) return Bad("page level", ib);
  if (levels != nullptr) *levels = level + 1;
  if (count == 0 && level != 0) return Bad("empty index page", ib);
  *firstKey = count > 0 ? Get64(p) : 0;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* e = p + i * entrySize;
    const std::uint64_t key = Get64(e);
    if (level == 0) {
      if (*any && key <= *lastKey) return Bad("leaf keys out of order", ib);
      *any = true;
      *lastKey = key;
      leaf(e);
    } else {
      std::uint64_t childFirst = 0;
      QUILL_RETURN_IF_ERROR(WalkTree(f, Get64(e + 16), Get64(e + 8), ptype, level - 1, leafSize, lastKey, any,
                                     &childFirst, nullptr, leaf));
      if (childFirst != key) return Bad("index key differs from child's first key", ib);
    }
  }
  return quill::Status::Ok();
}

quill::Result<std::vector<std::uint8_t>> ReadBlock(const ParsedFile& f, std::uint64_t bid) {
  auto it = f.bbt.find(bid);
  if (it == f.bbt.end()) return quill::Status::Corruption("block " + std::to_string(bid) + " not in the BBT");
  const BbtRecord& r = it->second;
  const std::size_t size = BlockDiskSize(r.cb);
  if (r.ib + size > f.bytes.size()) return Bad("block beyond the end", r.ib);
  const std::uint8_t* t = &f.bytes[r.ib + size - kBlockTrailerSize];
  std::vector<std::uint8_t> data(f.bytes.begin() + r.ib, f.bytes.begin() + r.ib + r.cb);
  if (Get16(t) != r.cb) return Bad("trailer size differs from BBT", r.ib);
  if (Get64(t + 8) != bid) return Bad("trailer id differs from BBT", r.ib);
  if (Get16(t + 2) != ComputeSignature(r.ib, bid)) return Bad("block signature", r.ib);
  if (Get32(t + 4) != ComputeCrc(data)) return Bad("block CRC", r.ib);
  if ((bid & kBidInternalBit) == 0 && f.crypt == 1) PermuteDecode(data.data(), data.data(), data.size());
  return data;
}

}  // namespace

quill::Result<ParsedFile> ParseFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return quill::Status::NotFound(path);
  ParsedFile f;
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (f.bytes.size() < kFirstRegionOffset + kRegionSize) return quill::Status::Corruption("file too small");
  const std::uint8_t* h = f.bytes.data();
  if (std::string(reinterpret_cast<const char*>(h), 4) != "!BDN") return Bad("magic", 0);
  if (h[8] != 'S' || h[9] != 'M' || Get16(h + 0x0A) != 23 || Get16(h + 0x0C) != 19) return Bad("version", 0);
  const std::span<const std::uint8_t> hs(h, kHeaderSize);
  if (Get32(h + 4) != ComputeCrc(hs.subspan(8, 471))) return Bad("partial header CRC", 4);
  if (Get32(h + 0x20C) != ComputeCrc(hs.subspan(8, 516))) return Bad("full header CRC", 0x20C);
  if (h[0x200] != 0x80) return Bad("sentinel", 0x200);
  f.bidNextP = Get64(h + 0x20);
  f.unique = Get32(h + 0x28);
  for (int t = 0; t < 32; ++t) f.nidCounters[t] = Get32(h + 0x2C + 4 * t);
  f.fileEof = Get64(h + 0xB8);
  f.amapLast = Get64(h + 0xC0);
  f.amapFree = Get64(h + 0xC8);
  f.amapValid = h[0xF8];
  f.crypt = h[0x201];
  f.bidNextB = Get64(h + 0x204);
  if (f.fileEof != f.bytes.size()) return Bad("ibFileEof differs from the file size", 0xB8);

  std::uint64_t last = 0, first = 0;
  bool any = false;
  QUILL_RETURN_IF_ERROR(
      WalkTree(f, Get64(h + 0xE0), Get64(h + 0xD8), 0x81, -1, kNbtEntrySize, &last, &any, &first,
               &f.nbtLevels, [&f](const std::uint8_t* e) {
                 NodeEntry n{static_cast<Nid>(Get64(e)), Get64(e + 8), Get64(e + 16), Get32(e + 24)};
                 f.nbt[n.nid] = n;
               }));
  any = false;
  QUILL_RETURN_IF_ERROR(WalkTree(f, Get64(h + 0xF0), Get64(h + 0xE8), 0x80, -1, kBbtEntrySize, &last, &any,
                                 &first, &f.bbtLevels, [&f](const std::uint8_t* e) {
                                   f.bbt[Get64(e)] = BbtRecord{Get64(e + 8), Get16(e + 16), Get16(e + 18)};
                                 }));
  for (const auto& [bid, r] : f.bbt) {
    if (r.ib % kSlotSize != 0 || RegionOf(r.ib) != RegionOf(r.ib + BlockDiskSize(r.cb) - 1)) {
      return Bad("block misaligned or across a region end", r.ib);
    }
    quill::Result<std::vector<std::uint8_t>> b = ReadBlock(f, bid);
    if (!b.ok()) return b.status();
  }
  return f;
}

quill::Result<std::vector<std::uint8_t>> ReadStream(const ParsedFile& f, std::uint64_t bid) {
  quill::Result<std::vector<std::uint8_t>> block = ReadBlock(f, bid);
  if (!block.ok() || (bid & kBidInternalBit) == 0) return block;
  const std::vector<std::uint8_t>& b = *block;
  if (b.size() < 8 || b[0] != 1 || (b[1] != 1 && b[1] != 2)) return Bad("not an XBLOCK", bid);
  const std::size_t count = Get16(&b[2]);
  const std::uint32_t total = Get32(&b[4]);
  if (8 + count * 8 != b.size()) return Bad("XBLOCK size", bid);
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t child = Get64(&b[8 + 8 * i]);
    if (b[1] == 1 && (child & kBidInternalBit) != 0) return Bad("XBLOCK child is not a data block", bid);
    if (b[1] == 2 && (child & kBidInternalBit) == 0) return Bad("XXBLOCK child is not an XBLOCK", bid);
    quill::Result<std::vector<std::uint8_t>> part = ReadStream(f, child);
    if (!part.ok()) return part.status();
    if (i + 1 < count && b[1] == 1 && part->size() != kMaxBlockData) return Bad("short inner leaf", child);
    out.insert(out.end(), part->begin(), part->end());
  }
  if (out.size() != total) return Bad("lcbTotal", bid);
  return out;
}

quill::Result<std::vector<SubnodeRef>> ReadSubnodeTree(const ParsedFile& f, std::uint64_t bid) {
  if ((bid & kBidInternalBit) == 0) return Bad("subnode tree id without the internal bit", bid);
  quill::Result<std::vector<std::uint8_t>> block = ReadBlock(f, bid);
  if (!block.ok()) return block.status();
  const std::vector<std::uint8_t>& b = *block;
  if (b.size() < 8 || b[0] != 2 || b[1] > 1 || Get32(&b[4]) != 0) return Bad("subnode block header", bid);
  const std::size_t count = Get16(&b[2]);
  const std::size_t stride = b[1] == 0 ? 24 : 16;
  if (count == 0 || 8 + count * stride != b.size()) return Bad("subnode block size", bid);
  std::vector<SubnodeRef> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = &b[8 + i * stride];
    if (b[1] == 0) {
      out.push_back(SubnodeRef{static_cast<Nid>(Get64(e)), Get64(e + 8), Get64(e + 16)});
    } else {
      quill::Result<std::vector<SubnodeRef>> child = ReadSubnodeTree(f, Get64(e + 8));
      if (!child.ok()) return child.status();
      if (child->empty() || child->front().nid != Get64(e)) return Bad("SIENTRY key", bid);
      out.insert(out.end(), child->begin(), child->end());
    }
  }
  for (std::size_t i = 1; i < out.size(); ++i) {
    if (out[i].nid <= out[i - 1].nid) return Bad("subnodes out of order", bid);
  }
  return out;
}

std::vector<std::uint8_t> ExpectedAMap(const ParsedFile& f, std::uint64_t k) {
  std::vector<std::uint8_t> bits(kPageContentSize);
  const std::uint64_t start = RegionStart(k), end = RegionStart(k + 1);
  auto mark = [&](std::uint64_t ib, std::uint64_t size) {
    if (ib < start || ib >= end) return;
    for (std::uint64_t s = (ib - start) / kSlotSize; s < (ib - start + size) / kSlotSize; ++s) {
      bits[s / 8] |= static_cast<std::uint8_t>(0x80 >> (s % 8));
    }
  };
  mark(start, kPageSize);
  if (k % 8 == 0) mark(start + 0x200, kPageSize);
  if (k >= 128 && (k - 128) % 496 == 0) mark(start + 0x400, kPageSize);
  if (k >= 8192 && (k - 8192) % 3968 == 0) mark(start + 0x600, kPageSize);
  for (std::uint64_t ib : f.btPages) mark(ib, kPageSize);
  for (const auto& [bid, r] : f.bbt) mark(r.ib, BlockDiskSize(r.cb));
  return bits;
}

std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace pst::ndb::test_reader
