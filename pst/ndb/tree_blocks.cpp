#include "pst/ndb/tree_blocks.h"

namespace pst::ndb {
namespace {

void PutTreeHeader(std::uint8_t* p, std::uint8_t type, int level, std::size_t count, std::uint32_t extra) {
  p[0] = type;
  p[1] = static_cast<std::uint8_t>(level);
  Put16(p + 2, static_cast<std::uint16_t>(count));
  Put32(p + 4, extra);
}

}  // namespace

std::vector<std::uint8_t> EncodeXBlock(int level, std::span<const Bid> children, std::uint32_t totalSize) {
  std::vector<std::uint8_t> out(kTreeHeaderSize + children.size() * kXEntrySize);
  PutTreeHeader(out.data(), kBlockTypeData, level, children.size(), totalSize);
  std::uint8_t* p = out.data() + kTreeHeaderSize;
  for (Bid bid : children) {
    Put64(p, bid);
    p += kXEntrySize;
  }
  return out;
}

std::vector<std::uint8_t> EncodeSlBlock(std::span<const SubnodeRef> entries) {
  std::vector<std::uint8_t> out(kTreeHeaderSize + entries.size() * kSlEntrySize);
  PutTreeHeader(out.data(), kBlockTypeSubnode, 0, entries.size(), 0);
  std::uint8_t* p = out.data() + kTreeHeaderSize;
  for (const SubnodeRef& e : entries) {
    Put64(p, e.nid);  // the upper half stays zero
    Put64(p + 8, e.data);
    Put64(p + 16, e.sub);
    p += kSlEntrySize;
  }
  return out;
}

std::vector<std::uint8_t> EncodeSiBlock(std::span<const SiEntry> entries) {
  std::vector<std::uint8_t> out(kTreeHeaderSize + entries.size() * kSiEntrySize);
  PutTreeHeader(out.data(), kBlockTypeSubnode, 1, entries.size(), 0);
  std::uint8_t* p = out.data() + kTreeHeaderSize;
  for (const SiEntry& e : entries) {
    Put64(p, e.firstNid);
    Put64(p + 8, e.child);
    p += kSiEntrySize;
  }
  return out;
}

quill::Result<XBlockContent> DecodeXBlock(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kTreeHeaderSize || bytes[0] != kBlockTypeData || (bytes[1] != 1 && bytes[1] != 2)) {
    return quill::Status::Corruption("not a data tree block");
  }
  XBlockContent x;
  x.level = bytes[1];
  const std::size_t count = Get16(bytes.data() + 2);
  x.totalSize = Get32(bytes.data() + 4);
  if (count == 0 || kTreeHeaderSize + count * kXEntrySize > bytes.size()) {
    return quill::Status::Corruption("data tree block entry count out of range");
  }
  x.children.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    x.children.push_back(Get64(bytes.data() + kTreeHeaderSize + i * kXEntrySize));
  return x;
}

quill::Result<SubnodeBlockContent> DecodeSubnodeBlock(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kTreeHeaderSize || bytes[0] != kBlockTypeSubnode || bytes[1] > 1) {
    return quill::Status::Corruption("not a subnode tree block");
  }
  SubnodeBlockContent s;
  s.leaf = bytes[1] == 0;
  const std::size_t count = Get16(bytes.data() + 2);
  const std::size_t stride = s.leaf ? kSlEntrySize : kSiEntrySize;
  if (count == 0 || kTreeHeaderSize + count * stride > bytes.size()) {
    return quill::Status::Corruption("subnode tree block entry count out of range");
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes.data() + kTreeHeaderSize + i * stride;
    // Readers ignore the upper half of a subnode nid; so do we.
    const Nid nid = static_cast<Nid>(Get64(p));
    if (s.leaf) {
      s.entries.push_back(SubnodeRef{nid, Get64(p + 8), Get64(p + 16)});
    } else {
      s.children.push_back(SiEntry{nid, Get64(p + 8)});
    }
  }
  return s;
}

}  // namespace pst::ndb
