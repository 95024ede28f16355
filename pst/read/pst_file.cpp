#include "pst/read/pst_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fs/env.h"

namespace pst::read {

std::string Hex(std::uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  return buf;
}

class PstFile::Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t Size() const = 0;
  // REQUIRES: offset + size <= Size().
  virtual Status Read(std::uint64_t offset, std::size_t size, std::uint8_t* out) const = 0;
};

namespace {

constexpr std::uint32_t kMagic = 0x4E444221;  // "!BDN"
constexpr int kMaxBtreeLevel = 8;
// Deeper than any real B-tree; only a cycle or a forged level could get here.
constexpr int kMaxBtreeDepth = 16;

class FileSource final : public PstFile::Source {
 public:
  FileSource(std::unique_ptr<fs::ReadableFile> file, std::uint64_t size)
      : file_(std::move(file)), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  Status Read(std::uint64_t offset, std::size_t size, std::uint8_t* out) const override {
    std::size_t done = 0;
    while (done < size) {
      std::size_t n = 0;
      if (const int err = file_->ReadAt(offset + done, out + done, size - done, &n); err != 0) {
        return Status::IOError("read failed: " + fs::ErrorText(err));
      }
      if (n == 0) return Status::IOError("file shrank while reading");
      done += n;
    }
    return Status::Ok();
  }

 private:
  std::unique_ptr<fs::ReadableFile> file_;
  std::uint64_t size_;
};

class MemorySource final : public PstFile::Source {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  Status Read(std::uint64_t offset, std::size_t size, std::uint8_t* out) const override {
    if (size != 0) std::memcpy(out, bytes_.data() + offset, size);
    return Status::Ok();
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

PstFile::PstFile(std::unique_ptr<Source> source) : source_(std::move(source)) {}
PstFile::~PstFile() = default;

std::uint64_t PstFile::file_size() const { return source_->Size(); }

Result<std::unique_ptr<PstFile>> PstFile::Open(const std::string& path) {
  std::unique_ptr<fs::ReadableFile> source;
  fs::FileInfo info;
  if (const int err = fs::SystemEnv().OpenForReading(path, &source, &info); err != 0) {
    if (err == EISDIR || err == fs::kNotRegularFile) return Status::IOError("not a regular file: " + path);
    std::string msg = fs::ErrorText(err) + ": " + path;
    return err == ENOENT ? Status::NotFound(msg) : Status::IOError(msg);
  }
  std::unique_ptr<PstFile> file(new PstFile(std::make_unique<FileSource>(std::move(source), info.size)));
  QUILL_RETURN_IF_ERROR(file->Init());
  return file;
}

Result<std::unique_ptr<PstFile>> PstFile::FromBytes(std::vector<std::uint8_t> bytes) {
  std::unique_ptr<PstFile> file(new PstFile(std::make_unique<MemorySource>(std::move(bytes))));
  QUILL_RETURN_IF_ERROR(file->Init());
  return file;
}

Status PstFile::ReadAt(std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>* out) const {
  const std::uint64_t total = source_->Size();
  if (offset > total || total - offset < size) {
    return Status::Corruption("range " + Hex(offset) + "+" + std::to_string(size) +
                              " lies beyond the end of the file");
  }
  out->resize(size);
  return source_->Read(offset, size, out->data());
}

void PstFile::AddFinding(std::string where, std::string what) {
  findings_.push_back({std::move(where), std::move(what)});
}

Status PstFile::Init() {
  std::vector<std::uint8_t> h;
  if (source_->Size() < kHeaderSize) return Status::Corruption("file too short for a store header");
  QUILL_RETURN_IF_ERROR(ReadAt(0, kHeaderSize, &h));
  Header& hd = header_;
  hd.magic = Le32(h, 0);
  if (hd.magic != kMagic) return Status::Corruption("not a PST file (bad magic)");
  hd.crc_partial = Le32(h, 4);
  hd.magic_client = Le16(h, 8);
  hd.version = Le16(h, 10);
  if (hd.version < 23) {
    return Status::NotSupported("ANSI store (version " + std::to_string(hd.version) +
                                "); only Unicode stores are read");
  }
  hd.client_version = Le16(h, 12);
  hd.platform_create = h[14];
  hd.platform_access = h[15];
  hd.bid_next_page = Le64(h, 0x20);
  for (int i = 0; i < 32; ++i) hd.rgnid[i] = Le32(h, 0x2C + 4 * i);
  hd.file_eof = Le64(h, 0xB8);
  hd.amap_last = Le64(h, 0xC0);
  hd.amap_free = Le64(h, 0xC8);
  hd.pmap_free = Le64(h, 0xD0);
  hd.nbt_root = {Le64(h, 0xD8), Le64(h, 0xE0)};
  hd.bbt_root = {Le64(h, 0xE8), Le64(h, 0xF0)};
  hd.amap_valid = h[0xF8];
  hd.align = Le32(h, 0xFC);
  hd.sentinel = h[0x200];
  hd.crypt_method = h[0x201];
  hd.bid_next_block = Le64(h, 0x204);
  hd.crc_full = Le32(h, 0x20C);
  std::span<const std::uint8_t> hs(h);
  hd.crc_partial_ok = PstCrc(hs.subspan(8, 471)) == hd.crc_partial;
  hd.crc_full_ok = PstCrc(hs.subspan(8, 516)) == hd.crc_full;
  if (!hd.crc_partial_ok) AddFinding("header", "partial header CRC does not match");
  if (!hd.crc_full_ok) AddFinding("header", "full header CRC does not match");
  if (hd.crypt_method == kCryptCyclic) {
    return Status::NotSupported("cyclic block encoding is not supported");
  }
  if (hd.crypt_method != kCryptNone && hd.crypt_method != kCryptPermute) {
    return Status::NotSupported("unknown block encoding " + std::to_string(hd.crypt_method));
  }

  std::uint64_t first = 0;
  WalkTree(true, hd.nbt_root, -1, 0, UINT64_MAX, &first, 0);
  WalkTree(false, hd.bbt_root, -1, 0, UINT64_MAX, &first, 0);
  if (nodes_.empty()) return Status::Corruption("node B-tree is unreadable or empty");
  return Status::Ok();
}

void PstFile::WalkTree(bool is_nbt, const Bref& ref, int expected_level, std::uint64_t lo, std::uint64_t hi,
                       std::uint64_t* first_key, int depth) {
  const std::string where = std::string(is_nbt ? "NBT" : "BBT") + " page @" + Hex(ref.ib);
  *first_key = UINT64_MAX;
  if (depth > kMaxBtreeDepth) {
    AddFinding(where, "B-tree deeper than any legal tree");
    return;
  }
  if (!visited_pages_.insert(ref.ib).second) {
    AddFinding(where, "page reached twice in the B-tree");
    return;
  }
  std::vector<std::uint8_t> page;
  if (Status s = ReadAt(ref.ib, kPageSize, &page); !s.ok()) {
    AddFinding(where, s.message());
    return;
  }
  if (ref.ib % kPageSize != 0) AddFinding(where, "page not aligned to 512 bytes");
  std::span<const std::uint8_t> p(page);
  const std::uint8_t want = is_nbt ? kPtypeNbt : kPtypeBbt;
  const std::uint8_t ptype = p[496];
  if (ptype != want) {
    AddFinding(where, "page type " + Hex(ptype) + " where " + Hex(want) + " was expected");
    return;
  }
  if (p[497] != ptype) AddFinding(where, "repeated page type differs");
  const Bid trailer_bid = Le64(p, 504);
  if (trailer_bid != ref.bid) {
    AddFinding(where, "trailer bid " + Hex(trailer_bid) + " differs from reference " + Hex(ref.bid));
  }
  if (Le16(p, 498) != Signature(ref.ib, trailer_bid)) AddFinding(where, "page signature wrong");
  if (Le32(p, 500) != PstCrc(p.subspan(0, 496))) AddFinding(where, "page CRC does not match");

  const int count = p[488];
  const int max = p[489];
  const int cb_ent = p[490];
  const int level = p[491];
  if (Le32(p, 492) != 0) AddFinding(where, "page padding not zero");
  if (level > kMaxBtreeLevel || (expected_level >= 0 && level != expected_level)) {
    AddFinding(where, "page level " + std::to_string(level) + " where " +
                          (expected_level >= 0 ? std::to_string(expected_level) : "0..8") + " was expected");
    return;
  }
  const int want_cb = level > 0 ? 24 : (is_nbt ? 32 : 24);
  if (cb_ent != want_cb) {
    AddFinding(where, "entry size " + std::to_string(cb_ent) + ", expected " + std::to_string(want_cb));
    return;
  }
  if (max != 488 / want_cb) {
    AddFinding(where,
               "entry capacity " + std::to_string(max) + ", expected " + std::to_string(488 / want_cb));
  }
  if (count > 488 / want_cb) {
    AddFinding(where, "entry count " + std::to_string(count) + " exceeds what a page holds");
    return;
  }
  if (count == 0 && depth > 0) AddFinding(where, "empty page below the root");
  pages_.push_back(
      {ref.ib, ref.bid, ptype, static_cast<std::uint8_t>(level), static_cast<std::uint8_t>(count)});

  std::uint64_t prev = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t off = static_cast<std::size_t>(i) * cb_ent;
    std::uint64_t key = Le64(p, off);
    if (is_nbt && level == 0 && (key >> 32) != 0) {
      AddFinding(where, "node id " + Hex(key) + " has bits above 32 set");
    }
    if (is_nbt && level == 0) key &= 0xFFFFFFFFu;
    if (!is_nbt && level == 0) key = CanonicalBid(key);
    if (i == 0) *first_key = key;
    if (i > 0 && key <= prev) {
      AddFinding(where, "keys out of order: " + Hex(key) + " after " + Hex(prev));
    }
    if (key < lo || key >= hi) {
      AddFinding(where, "key " + Hex(key) + " outside the range its parent gives");
    }
    prev = key;
    if (level > 0) {
      Bref child{Le64(p, off + 8), Le64(p, off + 16)};
      std::uint64_t child_hi = hi;
      if (i + 1 < count) child_hi = std::min(hi, Le64(p, off + cb_ent));
      std::uint64_t child_first = 0;
      WalkTree(is_nbt, child, level - 1, key, child_hi, &child_first, depth + 1);
      if (child_first != UINT64_MAX && child_first != key) {
        AddFinding(where, "entry key " + Hex(key) + " differs from the first key " + Hex(child_first) +
                              " of its child page");
      }
    } else if (is_nbt) {
      NodeEntry e{static_cast<Nid>(key), Le64(p, off + 8), Le64(p, off + 16), Le32(p, off + 24)};
      if (!nodes_.emplace(e.nid, e).second) AddFinding(where, "node " + Hex(key) + " listed twice");
    } else {
      BlockEntry e{key, Le64(p, off + 8), Le16(p, off + 16), Le16(p, off + 18)};
      if (!blocks_.emplace(e.bid, e).second) AddFinding(where, "block " + Hex(key) + " listed twice");
    }
  }
}

Result<std::vector<std::uint8_t>> PstFile::ReadBlock(Bid bid) const {
  auto it = blocks_.find(CanonicalBid(bid));
  if (it == blocks_.end()) return Status::NotFound("block " + Hex(bid) + " is not in the BBT");
  const BlockEntry& e = it->second;
  const std::string name = "block " + Hex(e.bid) + " @" + Hex(e.ib);
  if (e.cb > kMaxBlockData) return Status::Corruption(name + ": size " + std::to_string(e.cb) + " too large");
  const std::uint64_t disk = BlockDiskSize(e.cb);
  std::vector<std::uint8_t> raw;
  if (Status s = ReadAt(e.ib, disk, &raw); !s.ok()) return Status::Corruption(name + ": " + s.message());
  std::span<const std::uint8_t> t(raw.data() + disk - kBlockTrailerSize, kBlockTrailerSize);
  const std::uint16_t cb = Le16(t, 0);
  const Bid trailer_bid = Le64(t, 8);
  if (cb != e.cb) {
    return Status::Corruption(name + ": trailer size " + std::to_string(cb) + " differs from BBT size " +
                              std::to_string(e.cb));
  }
  if (CanonicalBid(trailer_bid) != e.bid) {
    return Status::Corruption(name + ": trailer bid " + Hex(trailer_bid) + " differs");
  }
  if (Le16(t, 2) != Signature(e.ib, trailer_bid)) return Status::Corruption(name + ": signature wrong");
  raw.resize(cb);
  if (Le32(t, 4) != PstCrc(raw)) return Status::Corruption(name + ": CRC does not match");
  if (!IsInternalBid(e.bid) && header_.crypt_method == kCryptPermute) PermuteDecode(raw);
  return raw;
}

Result<XBlock> ParseXBlock(std::span<const std::uint8_t> b) {
  if (b.size() < 8 || b[0] != 0x01) return Status::Corruption("not a data-tree block");
  XBlock x;
  x.level = b[1];
  if (x.level != 1 && x.level != 2)
    return Status::Corruption("data-tree block level " + std::to_string(x.level));
  const std::size_t count = Le16(b, 2);
  x.total_size = Le32(b, 4);
  if (count == 0 || 8 + count * 8 > b.size()) return Status::Corruption("data-tree block entry count wrong");
  for (std::size_t i = 0; i < count; ++i) x.children.push_back(Le64(b, 8 + 8 * i));
  return x;
}

Result<SubnodeBlock> ParseSubnodeBlock(std::span<const std::uint8_t> b) {
  if (b.size() < 8 || b[0] != 0x02) return Status::Corruption("not a subnode block");
  SubnodeBlock s;
  s.level = b[1];
  if (s.level > 1) return Status::Corruption("subnode block level " + std::to_string(s.level));
  const std::size_t count = Le16(b, 2);
  const std::size_t size = s.level == 0 ? 24 : 16;
  if (count == 0 || 8 + count * size > b.size()) return Status::Corruption("subnode block entry count wrong");
  if (Le32(b, 4) != 0) return Status::Corruption("subnode block padding not zero");
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t off = 8 + i * size;
    // The upper half of an entry's nid is not part of the id (Outlook leaves noise there).
    SubnodeEntry e{static_cast<Nid>(Le64(b, off) & 0xFFFFFFFFu), Le64(b, off + 8),
                   s.level == 0 ? Le64(b, off + 16) : 0};
    s.entries.push_back(e);
  }
  return s;
}

Result<std::vector<std::vector<std::uint8_t>>> PstFile::ReadDataTree(Bid bid) const {
  std::vector<std::vector<std::uint8_t>> leaves;
  if (bid == 0) return leaves;
  if (!IsInternalBid(bid)) {
    QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> b, ReadBlock(bid));
    leaves.push_back(std::move(b));
    return leaves;
  }
  QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> top, ReadBlock(bid));
  Result<XBlock> x = ParseXBlock(top);
  if (!x.ok()) return Status::Corruption("block " + Hex(bid) + ": " + x.status().message());
  // A tree cannot describe more than the file holds unless blocks are shared, which a forged file
  // could use to demand unbounded memory.
  const std::uint64_t limit = file_size();
  std::uint64_t total = 0;
  std::vector<Bid> data_bids;
  if (x->level == 2) {
    for (Bid child : x->children) {
      if (!IsInternalBid(child))
        return Status::Corruption("block " + Hex(bid) + ": XXBLOCK child is a data block");
      QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> cb, ReadBlock(child));
      Result<XBlock> cx = ParseXBlock(cb);
      if (!cx.ok() || cx->level != 1) return Status::Corruption("block " + Hex(child) + ": not an XBLOCK");
      data_bids.insert(data_bids.end(), cx->children.begin(), cx->children.end());
    }
  } else {
    data_bids = x->children;
  }
  for (Bid d : data_bids) {
    if (IsInternalBid(d))
      return Status::Corruption("block " + Hex(bid) + ": data tree points at an inner block");
    QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> b, ReadBlock(d));
    total += b.size();
    if (total > limit) return Status::Corruption("block " + Hex(bid) + ": data tree larger than the file");
    leaves.push_back(std::move(b));
  }
  if (total != x->total_size) {
    return Status::Corruption("block " + Hex(bid) + ": data tree holds " + std::to_string(total) +
                              " bytes but claims " + std::to_string(x->total_size));
  }
  return leaves;
}

Result<std::vector<std::uint8_t>> PstFile::ReadStream(Bid bid) const {
  QUILL_ASSIGN_OR_RETURN(std::vector<std::vector<std::uint8_t>> leaves, ReadDataTree(bid));
  std::vector<std::uint8_t> out;
  for (const auto& l : leaves) out.insert(out.end(), l.begin(), l.end());
  return out;
}

Result<std::map<Nid, SubnodeEntry>> PstFile::ReadSubnodes(Bid bid) const {
  std::map<Nid, SubnodeEntry> out;
  if (bid == 0) return out;
  QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> top, ReadBlock(bid));
  Result<SubnodeBlock> s = ParseSubnodeBlock(top);
  if (!s.ok()) return Status::Corruption("block " + Hex(bid) + ": " + s.status().message());
  std::vector<SubnodeEntry> leaves;
  if (s->level == 1) {
    for (const SubnodeEntry& e : s->entries) {
      QUILL_ASSIGN_OR_RETURN(std::vector<std::uint8_t> cb, ReadBlock(e.data));
      Result<SubnodeBlock> c = ParseSubnodeBlock(cb);
      if (!c.ok() || c->level != 0) return Status::Corruption("block " + Hex(e.data) + ": not an SLBLOCK");
      leaves.insert(leaves.end(), c->entries.begin(), c->entries.end());
    }
  } else {
    leaves = std::move(s->entries);
  }
  for (const SubnodeEntry& e : leaves) {
    if (!out.emplace(e.nid, e).second) {
      return Status::Corruption("block " + Hex(bid) + ": subnode " + Hex(e.nid) + " listed twice");
    }
  }
  return out;
}

Result<Node> PstFile::LoadNode(Nid nid) const {
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) return Status::NotFound("node " + Hex(nid) + " is not in the NBT");
  Node n;
  n.nid = nid;
  QUILL_ASSIGN_OR_RETURN(n.blocks, ReadDataTree(it->second.data));
  QUILL_ASSIGN_OR_RETURN(n.subnodes, ReadSubnodes(it->second.sub));
  return n;
}

Result<Node> PstFile::LoadSubnode(const Node& parent, Nid nid) const {
  auto it = parent.subnodes.find(nid);
  if (it == parent.subnodes.end()) {
    return Status::NotFound("subnode " + Hex(nid) + " is not in node " + Hex(parent.nid));
  }
  Node n;
  n.nid = nid;
  QUILL_ASSIGN_OR_RETURN(n.blocks, ReadDataTree(it->second.data));
  QUILL_ASSIGN_OR_RETURN(n.subnodes, ReadSubnodes(it->second.sub));
  return n;
}

}  // namespace pst::read
