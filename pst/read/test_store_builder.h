// A minimal store writer for tests of the read path on shapes the small reference stores lack:
// multi-block heaps, BTH index levels, row matrices in subnodes, XXBLOCK trees, SIBLOCK subnode
// trees. It writes blocks unencoded into one allocation-map region and indexes them in leaf-only
// or two-level B-trees with reference counts that match; allocation maps are left empty (the
// reader does not use them).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "pst/read/pst_file.h"
#include "pst/read/test_util.h"

namespace pst::read::testing {

class TestStoreBuilder {
 public:
  Bid AddDataBlock(const Bytes& data);
  // A data tree over `leaves`: one block, an XBLOCK, or an XXBLOCK when `fanout` leaves per XBLOCK
  // do not fit in one XBLOCK (a small fanout forces the deeper shape with few blocks).
  Bid AddDataTree(const std::vector<Bytes>& leaves, std::size_t fanout = 1021);
  // A subnode tree: one SLBLOCK, or an SIBLOCK over SLBLOCKs of `per_leaf` entries.
  Bid AddSubnodeTree(const std::vector<SubnodeEntry>& entries, std::size_t per_leaf = 340);
  void AddNode(Nid nid, Bid data, Bid sub, Nid parent);
  Bytes Finish();

 private:
  Bid AddBlock(const Bytes& data, bool internal);
  struct Block {
    Bid bid;
    std::uint64_t ib;
    std::uint16_t cb;
  };
  Bytes body_ = Bytes(0x4800, 0);  // header, reserved space, first AMap and PMap pages
  std::vector<Block> blocks_;
  std::vector<NodeEntry> nodes_;
  std::map<Bid, int> refs_;  // references made so far, for the reference counts
  Bid next_bid_ = 4;
  Bid next_page_ = 1;
};

// Bytes of one heap block holding `allocs` back to back, with the right header for block `index`.
Bytes MakeHeapBlock(std::size_t index, std::uint8_t client, std::uint32_t user_root,
                    const std::vector<Bytes>& allocs);

constexpr std::uint32_t MakeHid(std::uint32_t block, std::uint32_t index) {
  return (block << 16) | (index << 5);
}

}  // namespace pst::read::testing
