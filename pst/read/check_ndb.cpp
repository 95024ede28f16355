// Node-database invariants: header fields, blocks and their trailers, reference counts, the
// allocation maps against what is really in use, id counters, and the nodes every store holds.
#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "pst/read/check_context.h"

namespace pst::read {
namespace {

constexpr std::uint16_t kClientMagicPst = 0x4D53;  // "SM"
constexpr std::uint32_t kSlotsPerRegion = static_cast<std::uint32_t>(kAmapRegionSize / kAmapSlot);
constexpr std::uint64_t kPmapRegions = 8;  // one page map per eight allocation-map regions

std::uint64_t RegionCount(std::uint64_t eof) {
  if (eof <= kFirstAmapOffset) return 0;
  return (eof - kFirstAmapOffset) / kAmapRegionSize;
}

std::uint64_t AmapOffset(std::uint64_t region) { return kFirstAmapOffset + region * kAmapRegionSize; }

}  // namespace

void CheckHeader(CheckContext& ctx) {
  const Header& h = ctx.file.header();
  const std::uint64_t size = ctx.file.file_size();
  if (h.magic_client != kClientMagicPst)
    ctx.Add("header", "client magic " + Hex(h.magic_client) + " is not a PST's");
  if (h.version != 23) ctx.Add("header", "file version " + std::to_string(h.version) + ", expected 23");
  if (h.client_version != 19)
    ctx.Add("header", "client version " + std::to_string(h.client_version) + ", expected 19");
  if (h.platform_create != 1 || h.platform_access != 1) ctx.Add("header", "platform bytes not 1");
  if (h.sentinel != 0x80) ctx.Add("header", "sentinel byte " + Hex(h.sentinel) + ", expected 0x80");
  if (h.align != 0) ctx.Add("header", "alignment field not zero");
  if (h.amap_valid != 1 && h.amap_valid != 2)
    ctx.Add("header", "allocation maps flagged invalid (" + Hex(h.amap_valid) + ")");
  if (h.file_eof != size)
    ctx.Add("header", "ibFileEof " + Hex(h.file_eof) + " differs from the file size " + Hex(size));
  if (h.file_eof < kFirstAmapOffset + kAmapRegionSize ||
      (h.file_eof - kFirstAmapOffset) % kAmapRegionSize != 0) {
    ctx.Add("header", "ibFileEof " + Hex(h.file_eof) + " does not end an allocation-map region");
  } else if (h.amap_last != AmapOffset(RegionCount(h.file_eof) - 1)) {
    ctx.Add("header",
            "ibAMapLast " + Hex(h.amap_last) + ", expected " + Hex(AmapOffset(RegionCount(h.file_eof) - 1)));
  }
  if (h.nbt_root.ib == 0 || h.bbt_root.ib == 0) ctx.Add("header", "B-tree root missing");
}

void CheckBlocksAndReferences(CheckContext& ctx) {
  const PstFile& file = ctx.file;
  const auto& blocks = file.blocks();
  const Header& h = file.header();
  std::map<Bid, int> refs;
  int bad = 0;
  auto ref = [&](Bid bid, const std::string& from) {
    if (bid == 0) return;
    const Bid key = CanonicalBid(bid);
    if (!blocks.count(key)) {
      ctx.Add(from, "refers to block " + Hex(bid) + " which is not in the BBT");
      return;
    }
    ++refs[key];
  };
  Bid max_bid = 0;
  for (const auto& [bid, e] : blocks) {
    max_bid = std::max(max_bid, bid);
    const std::string where = "block " + Hex(bid);
    Result<std::vector<std::uint8_t>> data = file.ReadBlock(bid);
    if (!data.ok()) {
      if (++bad <= kMaxRepeats) ctx.Add(where, data.status().message());
      continue;
    }
    if (!IsInternalBid(bid)) continue;
    const std::vector<std::uint8_t>& d = data.value();
    if (!d.empty() && d[0] == 0x01) {
      Result<XBlock> x = ParseXBlock(d);
      if (!x.ok()) {
        ctx.Add(where, x.status().message());
        continue;
      }
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < x->children.size(); ++i) {
        const Bid c = x->children[i];
        ref(c, where);
        auto it = blocks.find(CanonicalBid(c));
        if (it == blocks.end()) continue;
        if (x->level == 1) {
          if (IsInternalBid(c)) ctx.Add(where, "data-tree leaf " + Hex(c) + " is an inner block");
          // Leaves need not be full: a heap's blocks are its pages, each as long as it is used.
          // Only row matrices demand full blocks, and the table reader checks those.
          total += it->second.cb;
        } else {
          Result<std::vector<std::uint8_t>> cd = file.ReadBlock(c);
          Result<XBlock> cx = cd.ok() ? ParseXBlock(cd.value()) : Result<XBlock>(cd.status());
          if (!cx.ok() || cx->level != 1) {
            ctx.Add(where, "child " + Hex(c) + " is not an XBLOCK");
            continue;
          }
          total += cx->total_size;
        }
      }
      if (total != x->total_size) {
        ctx.Add(where, "data tree claims " + std::to_string(x->total_size) + " bytes, its children hold " +
                           std::to_string(total));
      }
    } else if (!d.empty() && d[0] == 0x02) {
      Result<SubnodeBlock> s = ParseSubnodeBlock(d);
      if (!s.ok()) {
        ctx.Add(where, s.status().message());
        continue;
      }
      for (std::size_t i = 0; i < s->entries.size(); ++i) {
        const SubnodeEntry& entry = s->entries[i];
        if (i > 0 && entry.nid <= s->entries[i - 1].nid)
          ctx.Add(where, "subnode ids not ascending at " + Hex(entry.nid));
        ref(entry.data, where);
        ref(entry.sub, where);
        if (s->level == 1 && blocks.count(CanonicalBid(entry.data))) {
          Result<std::vector<std::uint8_t>> cd = file.ReadBlock(entry.data);
          Result<SubnodeBlock> cs =
              cd.ok() ? ParseSubnodeBlock(cd.value()) : Result<SubnodeBlock>(cd.status());
          if (!cs.ok() || cs->level != 0) {
            ctx.Add(where, "child " + Hex(entry.data) + " is not an SLBLOCK");
          } else if (cs->entries.front().nid != entry.nid) {
            ctx.Add(where, "entry key " + Hex(entry.nid) + " differs from its child's first subnode");
          }
        }
        if (s->level == 0 && entry.sub != 0 && !IsInternalBid(entry.sub)) {
          ctx.Add(where, "subnode " + Hex(entry.nid) + " has a data block as its subnode tree");
        }
      }
    } else {
      ctx.Add(where, "inner block of unknown type");
    }
  }
  if (bad > kMaxRepeats) ctx.Add("BBT", std::to_string(bad) + " unreadable blocks in all");
  for (const auto& [nid, n] : file.nodes()) {
    const std::string where = "node " + Hex(nid);
    if (IsInternalBid(n.data) && blocks.count(CanonicalBid(n.data))) {
      Result<std::vector<std::uint8_t>> d = file.ReadBlock(n.data);
      if (d.ok() && (d->empty() || (*d)[0] != 0x01))
        ctx.Add(where, "data id " + Hex(n.data) + " is neither a data block nor a data tree");
    }
    ref(n.data, where);
    ref(n.sub, where);
    if (n.sub != 0 && !IsInternalBid(n.sub))
      ctx.Add(where, "subnode tree id " + Hex(n.sub) + " is a data block");
  }
  int mismatched = 0;
  for (const auto& [bid, e] : blocks) {
    const int found = refs.count(bid) ? refs[bid] : 0;
    // The BBT entry holds one reference of its own, so a block nothing uses has a count of 1
    // (Outlook leaves such blocks behind: leaked space, not damage).
    if (e.ref_count != found + 1) {
      if (++mismatched <= kMaxRepeats) {
        ctx.Add("block " + Hex(bid), "reference count " + std::to_string(e.ref_count) + ", expected " +
                                         std::to_string(found + 1) + " (" + std::to_string(found) +
                                         " references)");
      }
    }
  }
  if (mismatched > kMaxRepeats) ctx.Add("BBT", std::to_string(mismatched) + " reference-count faults in all");
  for (const auto& [bid, e] : blocks) {
    if (!refs.count(bid) && e.ref_count == 1)
      ctx.Note("block " + Hex(bid), "not referenced by any node or block");
  }
  if (max_bid != 0 && h.bid_next_block <= max_bid) {
    ctx.Add("header",
            "bidNextB " + Hex(h.bid_next_block) + " not above the largest block id " + Hex(max_bid));
  }
  Bid max_page = 0;
  for (const BtPage& p : file.pages()) max_page = std::max(max_page, p.bid);
  if (h.bid_next_page <= max_page) {
    ctx.Add("header", "bidNextP " + Hex(h.bid_next_page) + " not above the largest page id " + Hex(max_page));
  }
}

void CheckAllocationMaps(CheckContext& ctx) {
  const PstFile& file = ctx.file;
  const std::uint64_t eof = std::min<std::uint64_t>(file.header().file_eof, file.file_size());
  const std::uint64_t regions = RegionCount(eof);
  if (regions == 0) return;
  const std::uint64_t mapped_end = AmapOffset(regions);
  // One bit per 64-byte slot (a 50 GB store needs 100 MB here), set for every slot something uses.
  std::vector<bool> used(regions * kSlotsPerRegion, false);
  int overlaps = 0;
  auto mark = [&](std::uint64_t ib, std::uint64_t size, const auto& name) {
    if (ib < kFirstAmapOffset || ib + size > mapped_end || ib % kAmapSlot != 0) {
      ctx.Add(name(), "lies outside the allocation-mapped part of the file");
      return;
    }
    const std::uint64_t first = (ib - kFirstAmapOffset) / kAmapSlot;
    const std::uint64_t last = (ib + size - kFirstAmapOffset + kAmapSlot - 1) / kAmapSlot;
    bool overlapped = false;
    for (std::uint64_t s = first; s < last; ++s) {
      overlapped = overlapped || used[s];
      used[s] = true;
    }
    if (overlapped && ++overlaps <= kMaxRepeats) ctx.Add(name(), "overlaps another page or block");
  };
  std::vector<std::uint8_t> page;
  for (std::uint64_t r = 0; r < regions; ++r) {
    const std::uint64_t amap = AmapOffset(r);
    mark(amap, kPageSize, [&] { return "AMap page @" + Hex(amap); });
    std::uint64_t next = amap + kPageSize;
    if (r % kPmapRegions == 0) {
      mark(next, kPageSize, [&] { return "PMap page @" + Hex(next); });
      if (file.ReadAt(next, kPageSize, &page).ok()) {
        std::span<const std::uint8_t> p(page);
        if (p[496] != kPtypePmap || p[497] != kPtypePmap)
          ctx.Add("PMap page @" + Hex(next), "wrong page type");
        if (Le32(p, 500) != PstCrc(p.subspan(0, 496)))
          ctx.Add("PMap page @" + Hex(next), "page CRC does not match");
        if (Le64(p, 504) != next) ctx.Add("PMap page @" + Hex(next), "trailer bid is not its offset");
      }
      next += kPageSize;
    }
    // Free maps appear only in files above 32 MB; their in-region place is not pinned down, so a
    // sealed page (its type twice, its CRC, its own offset as id) in one of the two page slots
    // after the maps is taken as one. The seal matters: a data block's bytes may look like a type.
    for (std::uint64_t at = next; r >= 128 && at <= amap + 3 * kPageSize; at += kPageSize) {
      if (!file.ReadAt(at, kPageSize, &page).ok()) break;
      std::span<const std::uint8_t> p(page);
      const bool freeMap = (p[496] == kPtypeFmap || p[496] == kPtypeFpmap) && p[497] == p[496];
      if (!freeMap || Le32(p, 500) != PstCrc(p.subspan(0, 496)) || Le64(p, 504) != at) continue;
      mark(at, kPageSize, [&] { return "free-map page @" + Hex(at); });
    }
  }
  for (const BtPage& p : file.pages()) {
    mark(p.ib, kPageSize,
         [&] { return std::string(p.ptype == kPtypeNbt ? "NBT" : "BBT") + " page @" + Hex(p.ib); });
  }
  for (const auto& block : file.blocks()) {
    // Named copies, not structured bindings: clang 14 cannot capture those in the lambda.
    const auto bid = block.first;
    const auto& e = block.second;
    mark(e.ib, BlockDiskSize(e.cb), [&] { return "block " + Hex(bid) + " @" + Hex(e.ib); });
  }
  if (overlaps > kMaxRepeats) ctx.Add("file", std::to_string(overlaps) + " overlapping slots in all");

  std::uint64_t clear_bits = 0;
  for (std::uint64_t r = 0; r < regions; ++r) {
    const std::uint64_t amap = AmapOffset(r);
    const std::string where = "AMap page @" + Hex(amap);
    if (!file.ReadAt(amap, kPageSize, &page).ok()) {
      ctx.Add(where, "unreadable");
      continue;
    }
    std::span<const std::uint8_t> p(page);
    if (p[496] != kPtypeAmap || p[497] != kPtypeAmap) {
      ctx.Add(where, "wrong page type " + Hex(p[496]));
      continue;
    }
    if (Le32(p, 500) != PstCrc(p.subspan(0, 496))) ctx.Add(where, "page CRC does not match");
    if (Le64(p, 504) != amap) ctx.Add(where, "trailer bid is not its offset");
    std::uint64_t unused_marked = 0, used_unmarked = 0, first_unused = 0, first_unmarked = 0;
    for (std::uint32_t s = 0; s < kSlotsPerRegion; ++s) {
      const bool bit = (p[s / 8] & (0x80 >> (s % 8))) != 0;
      const bool in_use = used[r * kSlotsPerRegion + s];
      const std::uint64_t at = amap + std::uint64_t{s} * kAmapSlot;
      if (!bit) ++clear_bits;
      if (bit && !in_use && unused_marked++ == 0) first_unused = at;
      if (!bit && in_use && used_unmarked++ == 0) first_unmarked = at;
    }
    // Over-marking only leaks space (an older Outlook leaves superseded B-tree pages marked);
    // under-marking lets the next writer overwrite live data.
    if (unused_marked) {
      ctx.Note(where, std::to_string(unused_marked) + " slots marked allocated but unused (first @" +
                          Hex(first_unused) + ")");
    }
    if (used_unmarked) {
      ctx.Add(where, std::to_string(used_unmarked) + " slots in use but not marked (first @" +
                         Hex(first_unmarked) + ")");
    }
  }
  // The density list is optional; when present it must be intact.
  if (file.ReadAt(kDlistOffset, kPageSize, &page).ok() && page[496] == kPtypeDlist) {
    std::span<const std::uint8_t> p(page);
    const std::string where = "density list page";
    if (p[497] != kPtypeDlist) ctx.Add(where, "repeated page type differs");
    if (Le32(p, 500) != PstCrc(p.subspan(0, 496))) ctx.Add(where, "page CRC does not match");
    if (Le16(p, 498) != Signature(kDlistOffset, Le64(p, 504))) ctx.Add(where, "page signature wrong");
    if (p[1] > 119) ctx.Add(where, "more entries than the page holds");
    for (std::size_t i = 0; i < p[1] && i < 119; ++i) {
      if ((Le32(p, 8 + 4 * i) & 0xFFFFF) >= regions) ctx.Add(where, "entry names a map page beyond the file");
    }
  }
  if (file.header().amap_free != clear_bits * kAmapSlot) {
    ctx.Add("header", "cbAMapFree " + std::to_string(file.header().amap_free) + ", the maps have " +
                          std::to_string(clear_bits * kAmapSlot) + " bytes free");
  }
}

void CheckNodes(CheckContext& ctx) {
  const auto& nodes = ctx.file.nodes();
  const Header& h = ctx.file.header();
  for (Nid nid : {0x21u, 0x61u, 0x122u, 0x12Du, 0x12Eu, 0x12Fu, 0x1E1u, 0x60Du, 0x60Eu, 0x60Fu, 0x610u,
                  0x671u, 0x692u}) {
    if (!nodes.count(nid)) ctx.Add("NBT", "mandatory node " + Hex(nid) + " missing");
  }
  std::array<std::uint32_t, 32> max_index{};
  for (const auto& [nid, n] : nodes) {
    const std::string where = "node " + Hex(nid);
    const std::uint8_t type = NidTypeOf(nid);
    max_index[type] = std::max(max_index[type], NidIndexOf(nid));
    const bool must_have_data = type == 0x02 || type == 0x03 || type == 0x04 || type == 0x08 ||
                                type == 0x0D || type == 0x0E || type == 0x0F;
    if (n.data == 0 && must_have_data) ctx.Add(where, "has no data");
    if (type == 0x02 || type == 0x03) {
      auto parent = nodes.find(n.parent);
      if (nid == 0x122) {
        if (n.parent != nid) ctx.Add(where, "root folder's parent is not itself");
      } else if (parent == nodes.end() || NidTypeOf(n.parent) != 0x02) {
        ctx.Add(where, "parent " + Hex(n.parent) + " is not a folder");
      }
    }
    if (type == 0x02) {
      for (std::uint8_t t : {0x0D, 0x0E, 0x0F}) {
        if (!nodes.count((nid & ~Nid{0x1F}) | t))
          ctx.Add(where, "folder table " + Hex((nid & ~Nid{0x1F}) | t) + " missing");
      }
    }
    if ((type == 0x04 || type == 0x08) && NidTypeOf(n.parent) != 0x02) {
      ctx.Add(where, "message's parent " + Hex(n.parent) + " is not a folder");
    } else if ((type == 0x04 || type == 0x08) && !nodes.count(n.parent)) {
      ctx.Add(where, "message's parent folder " + Hex(n.parent) + " does not exist");
    }
  }
  for (int t = 0; t < 32; ++t) {
    if (max_index[t] > h.rgnid[t]) {
      ctx.Add("header", "id counter for node type " + Hex(t) + " is " + Hex(h.rgnid[t]) +
                            ", below the used index " + Hex(max_index[t]));
    }
  }
}

}  // namespace pst::read
