// Byte layouts of the internal blocks that hold data trees and subnode trees.
//
//   XBLOCK / XXBLOCK:  [btype=1][level 1|2][cEnt:2][lcbTotal:4][bid:8 x cEnt]
//   SLBLOCK:           [btype=2][level 0][cEnt:2][pad:4][{nid:8, bidData:8, bidSub:8} x cEnt]
//   SIBLOCK:           [btype=2][level 1][cEnt:2][pad:4][{nid:8 (first of child), bid:8} x cEnt]
//
// The encoders produce the data part of the block (the trailer is the writer's business); the
// decoders check what they read and return Corruption on anything out of shape.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/status.h"
#include "pst/ndb/format.h"
#include "pst/ndb/node_sink.h"

namespace pst::ndb {

// REQUIRES: 1 <= children.size() <= kXBlockCapacity; level is 1 (XBLOCK) or 2 (XXBLOCK).
std::vector<std::uint8_t> EncodeXBlock(int level, std::span<const Bid> children, std::uint32_t totalSize);

// REQUIRES: 1 <= entries.size() <= kSlBlockCapacity, sorted by nid.
std::vector<std::uint8_t> EncodeSlBlock(std::span<const SubnodeRef> entries);

struct SiEntry {
  Nid firstNid = 0;
  Bid child = 0;
};
// REQUIRES: 1 <= entries.size() <= kSiBlockCapacity, sorted by firstNid.
std::vector<std::uint8_t> EncodeSiBlock(std::span<const SiEntry> entries);

struct XBlockContent {
  int level = 0;
  std::uint32_t totalSize = 0;
  std::vector<Bid> children;
};
quill::Result<XBlockContent> DecodeXBlock(std::span<const std::uint8_t> bytes);

// A subnode tree block: `leaf` tells which of the two vectors is filled.
struct SubnodeBlockContent {
  bool leaf = true;
  std::vector<SubnodeRef> entries;  // SLBLOCK
  std::vector<SiEntry> children;    // SIBLOCK
};
quill::Result<SubnodeBlockContent> DecodeSubnodeBlock(std::span<const std::uint8_t> bytes);

}  // namespace pst::ndb
