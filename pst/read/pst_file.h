// PstFile: read access to the node database of a Unicode store.
//
// Opening reads the header and walks both B-trees once, keeping every node and block entry in
// memory (32 and 24 bytes each on disk). Faults met on the way that do not stop the walk (a bad
// page CRC, keys out of order, a header CRC mismatch) are kept as findings() rather than failing
// the open, so the checker can report all of them; a reader that wants to refuse such a file
// checks findings().empty().
//
// Every read is bounded: offsets are checked against the file size, B-tree levels must fall
// strictly, pages are visited at most once, and a data tree may not claim more bytes than the file
// holds. A hostile file therefore gives a Status, never a crash or an endless loop.
//
// Errors: Open returns NotFound/IOError for file trouble, NotSupported for ANSI stores and cyclic
// encoding, Corruption for a header that is not a store. Block and node reads return Corruption
// (naming the block) or NotFound (a bid or nid absent from its B-tree).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/read/finding.h"
#include "pst/read/format.h"

namespace pst::read {

struct Bref {
  Bid bid = 0;
  std::uint64_t ib = 0;
};

struct Header {
  std::uint32_t magic = 0;
  std::uint32_t crc_partial = 0;
  std::uint32_t crc_full = 0;
  bool crc_partial_ok = false;
  bool crc_full_ok = false;
  std::uint16_t magic_client = 0;
  std::uint16_t version = 0;
  std::uint16_t client_version = 0;
  std::uint8_t platform_create = 0;
  std::uint8_t platform_access = 0;
  Bid bid_next_page = 0;
  Bid bid_next_block = 0;
  std::array<std::uint32_t, 32> rgnid{};
  std::uint64_t file_eof = 0;
  std::uint64_t amap_last = 0;
  std::uint64_t amap_free = 0;
  std::uint64_t pmap_free = 0;
  Bref nbt_root;
  Bref bbt_root;
  std::uint8_t amap_valid = 0;
  std::uint32_t align = 0;
  std::uint8_t sentinel = 0;
  std::uint8_t crypt_method = 0;
};

struct NodeEntry {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
  Nid parent = 0;
};

struct BlockEntry {
  Bid bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t ref_count = 0;
};

// One B-tree page met during the walk.
struct BtPage {
  std::uint64_t ib = 0;
  Bid bid = 0;
  std::uint8_t ptype = 0;
  std::uint8_t level = 0;
  std::uint8_t entries = 0;
};

struct SubnodeEntry {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
};

// A data tree's inner block: the ids below it and the size it promises.
struct XBlock {
  std::uint8_t level = 0;  // 1: children are data blocks; 2: children are XBLOCKs
  std::uint32_t total_size = 0;
  std::vector<Bid> children;
};

// A subnode tree's block: leaf entries (level 0) or (first nid, child SLBLOCK) pairs (level 1).
struct SubnodeBlock {
  std::uint8_t level = 0;
  std::vector<SubnodeEntry> entries;  // for level 1, `data` holds the child block's id
};

Result<XBlock> ParseXBlock(std::span<const std::uint8_t> block);
Result<SubnodeBlock> ParseSubnodeBlock(std::span<const std::uint8_t> block);

// A node's content: its data stream cut into the blocks it is stored in (the heap layer addresses
// blocks one by one) and its subnode table.
struct Node {
  Nid nid = 0;
  std::vector<std::vector<std::uint8_t>> blocks;
  std::map<Nid, SubnodeEntry> subnodes;
};

class PstFile {
 public:
  static Result<std::unique_ptr<PstFile>> Open(const std::string& path);
  static Result<std::unique_ptr<PstFile>> FromBytes(std::vector<std::uint8_t> bytes);
  ~PstFile();
  PstFile(const PstFile&) = delete;
  PstFile& operator=(const PstFile&) = delete;

  const Header& header() const { return header_; }
  std::uint64_t file_size() const;
  const std::map<Nid, NodeEntry>& nodes() const { return nodes_; }
  const std::map<Bid, BlockEntry>& blocks() const { return blocks_; }  // keyed by CanonicalBid
  const std::vector<BtPage>& pages() const { return pages_; }
  const std::vector<Finding>& findings() const { return findings_; }

  // Reads `size` bytes at `offset`; IOError/Corruption when the range leaves the file.
  Status ReadAt(std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>* out) const;

  // One block's data bytes, trailer verified, decoded when it is an external block.
  Result<std::vector<std::uint8_t>> ReadBlock(Bid bid) const;
  // The leaf blocks of the data tree rooted at `bid`, in stream order; empty for bid 0.
  Result<std::vector<std::vector<std::uint8_t>>> ReadDataTree(Bid bid) const;
  // The whole stream of a data tree in one buffer.
  Result<std::vector<std::uint8_t>> ReadStream(Bid bid) const;
  // The flattened subnode tree rooted at `bid`; empty for bid 0.
  Result<std::map<Nid, SubnodeEntry>> ReadSubnodes(Bid bid) const;

  Result<Node> LoadNode(Nid nid) const;
  Result<Node> LoadSubnode(const Node& parent, Nid nid) const;

  // Where the bytes come from (a file or a buffer); defined in the implementation.
  class Source;

 private:
  explicit PstFile(std::unique_ptr<Source> source);
  Status Init();
  void WalkTree(bool is_nbt, const Bref& ref, int expected_level, std::uint64_t lo, std::uint64_t hi,
                std::uint64_t* first_key, int depth);
  void AddFinding(std::string where, std::string what);

  std::unique_ptr<Source> source_;
  Header header_;
  std::map<Nid, NodeEntry> nodes_;
  std::map<Bid, BlockEntry> blocks_;
  std::vector<BtPage> pages_;
  std::vector<Finding> findings_;
  std::set<std::uint64_t> visited_pages_;
};

std::string Hex(std::uint64_t value);

}  // namespace pst::read
