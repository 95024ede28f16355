#include "pst/ltp/ltp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pst::ltp::testing {

std::uint64_t Le(const Bytes& b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(b.at(at + i)) << (8 * i);
  return v;
}

Bytes Utf16Le(std::u16string_view s) {
  Bytes out;
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

// ---- FakeSink ----

std::vector<Bytes> FakeSink::Leaves(ndb::Bid bid) const {
  quill::Result<std::vector<Bytes>> leaves = memory_.ReadLeaves(bid);
  if (!leaves.ok()) {
    ADD_FAILURE() << "data " << bid << ": " << leaves.status().ToString();
    return {};
  }
  return std::move(leaves).value();
}

Bytes FakeSink::Stream(ndb::Bid bid) const {
  Bytes out;
  for (const Bytes& leaf : Leaves(bid)) out.insert(out.end(), leaf.begin(), leaf.end());
  return out;
}

std::vector<ndb::SubnodeRef> FakeSink::Subnodes(ndb::Bid bid) const {
  quill::Result<std::vector<ndb::SubnodeRef>> subnodes = memory_.ReadSubnodes(bid);
  if (!subnodes.ok()) {
    ADD_FAILURE() << "subnode tree " << bid << ": " << subnodes.status().ToString();
    return {};
  }
  return std::move(subnodes).value();
}

const std::map<ndb::Nid, FakeSink::Node>& FakeSink::nodes() const {
  const std::vector<ndb::NodeEntry> entries = memory_.Nodes();
  if (entries.size() != nodes_.size()) {
    nodes_.clear();
    for (const ndb::NodeEntry& entry : entries) nodes_[entry.nid] = Node{entry.data, entry.sub, entry.parent};
  }
  return nodes_;
}

// ---- heap ----

const Bytes* ParsedHeap::Item(std::uint32_t hid) const {
  if ((hid & 0x1F) != 0) return nullptr;
  const std::size_t block = hid >> 16;
  const std::size_t index = (hid >> 5) & 0x7FF;
  if (index == 0 || block >= items.size() || index > items[block].size()) return nullptr;
  return &items[block][index - 1];
}

ParsedHeap ParseHeap(const std::vector<Bytes>& blocks) {
  ParsedHeap heap;
  if (blocks.empty()) {
    ADD_FAILURE() << "heap without blocks";
    return heap;
  }
  heap.fillLevels.assign(blocks.size(), 0xFF);
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const Bytes& block = blocks[b];
    std::size_t headerSize = 2;
    if (b == 0) {
      headerSize = 12;
      if (block.size() < 12 || block[2] != 0xEC) {
        ADD_FAILURE() << "bad HNHDR";
        return heap;
      }
      heap.clientSig = block[3];
      heap.userRoot = static_cast<std::uint32_t>(Le(block, 4, 4));
      for (std::size_t k = 0; k < 8 && k < blocks.size(); ++k) {
        heap.fillLevels[k] = static_cast<std::uint8_t>((block[8 + k / 2] >> (4 * (k % 2))) & 0xF);
      }
    } else if (b % 128 == 8) {
      headerSize = 66;
      for (std::size_t k = 0; k < 128 && b + k < blocks.size(); ++k) {
        heap.fillLevels[b + k] = static_cast<std::uint8_t>((block[2 + k / 2] >> (4 * (k % 2))) & 0xF);
      }
    }
    const std::size_t map = Le(block, 0, 2);
    if (map % 2 != 0 || map + 4 > block.size()) {
      ADD_FAILURE() << "block " << b << ": page map offset " << map;
      return heap;
    }
    const std::size_t count = Le(block, map, 2);
    if (Le(block, map + 2, 2) != 0) ADD_FAILURE() << "cFree not 0";
    if (map + 4 + 2 * (count + 1) > block.size()) {
      ADD_FAILURE() << "block " << b << ": page map runs past the block";
      return heap;
    }
    std::vector<Bytes> items;
    std::size_t prev = Le(block, map + 4, 2);
    if (prev != headerSize) ADD_FAILURE() << "block " << b << ": first allocation at " << prev;
    for (std::size_t i = 1; i <= count; ++i) {
      const std::size_t end = Le(block, map + 4 + 2 * i, 2);
      if (end < prev || end > map) {
        ADD_FAILURE() << "block " << b << ": allocation " << i << " out of bounds";
        return heap;
      }
      if (end - prev > 3580) ADD_FAILURE() << "allocation over 3580 bytes";
      items.emplace_back(block.begin() + static_cast<std::ptrdiff_t>(prev),
                         block.begin() + static_cast<std::ptrdiff_t>(end));
      prev = end;
    }
    heap.items.push_back(std::move(items));
  }
  heap.ok = true;
  return heap;
}

// ---- BTH ----

namespace {

bool KeyLess(const Bytes& a, const Bytes& b) {
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

bool WalkBth(const ParsedHeap& heap, std::uint32_t hid, std::size_t level, ParsedBth& out) {
  const Bytes* item = heap.Item(hid);
  if (item == nullptr) {
    ADD_FAILURE() << "BTH points at missing heap item " << hid;
    return false;
  }
  const std::size_t size = out.keySize + (level == 0 ? out.valueSize : 4);
  if (item->empty() || item->size() % size != 0) {
    ADD_FAILURE() << "BTH record array of " << item->size() << " bytes";
    return false;
  }
  for (std::size_t at = 0; at < item->size(); at += size) {
    Bytes key(item->begin() + static_cast<std::ptrdiff_t>(at),
              item->begin() + static_cast<std::ptrdiff_t>(at + out.keySize));
    if (level == 0) {
      out.records.emplace_back(key, Bytes(item->begin() + static_cast<std::ptrdiff_t>(at + out.keySize),
                                          item->begin() + static_cast<std::ptrdiff_t>(at + size)));
    } else {
      const std::size_t before = out.records.size();
      if (!WalkBth(heap, static_cast<std::uint32_t>(Le(*item, at + out.keySize, 4)), level - 1, out))
        return false;
      if (out.records.size() == before || out.records[before].first != key) {
        ADD_FAILURE() << "index key is not the first key of its child";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

ParsedBth ParseBth(const ParsedHeap& heap, std::uint32_t headerHid) {
  ParsedBth bth;
  const Bytes* header = heap.Item(headerHid);
  if (header == nullptr || header->size() != 8 || (*header)[0] != 0xB5) {
    ADD_FAILURE() << "bad BTHHEADER";
    return bth;
  }
  bth.keySize = (*header)[1];
  bth.valueSize = (*header)[2];
  bth.levels = (*header)[3];
  const std::uint32_t root = static_cast<std::uint32_t>(Le(*header, 4, 4));
  if (root != 0 && !WalkBth(heap, root, bth.levels, bth)) return bth;
  for (std::size_t i = 1; i < bth.records.size(); ++i) {
    if (!KeyLess(bth.records[i - 1].first, bth.records[i].first)) {
      ADD_FAILURE() << "BTH keys out of order at " << i;
      return bth;
    }
  }
  bth.ok = true;
  return bth;
}

std::optional<Bytes> ResolveHnid(const FakeSink& sink, const ParsedHeap& heap,
                                 const std::vector<ndb::SubnodeRef>& subnodes, std::uint32_t hnid) {
  if ((hnid & 0x1F) == 0) {
    const Bytes* item = heap.Item(hnid);
    if (item == nullptr) return std::nullopt;
    return *item;
  }
  for (const ndb::SubnodeRef& ref : subnodes) {
    if (ref.nid == hnid) return sink.Stream(ref.data);
  }
  return std::nullopt;
}

// ---- PC ----

std::map<std::uint16_t, ParsedProp> ReadPropertyContext(const FakeSink& sink, const NodeContent& content) {
  std::map<std::uint16_t, ParsedProp> out;
  ParsedHeap heap = ParseHeap(sink.Leaves(content.data));
  if (!heap.ok) return out;
  EXPECT_EQ(heap.clientSig, 0xBC);
  ParsedBth bth = ParseBth(heap, heap.userRoot);
  if (!bth.ok) return out;
  EXPECT_EQ(bth.keySize, 2u);
  EXPECT_EQ(bth.valueSize, 6u);
  for (const auto& [key, value] : bth.records) {
    ParsedProp prop;
    prop.type = static_cast<std::uint16_t>(Le(value, 0, 2));
    prop.hnid = static_cast<std::uint32_t>(Le(value, 2, 4));
    const bool inline4 =
        prop.type == 0x2 || prop.type == 0x3 || prop.type == 0x4 || prop.type == 0xA || prop.type == 0xB;
    if (inline4) {
      prop.value = Bytes(value.begin() + 2, value.end());
    } else if (prop.hnid != 0) {
      std::optional<Bytes> resolved = ResolveHnid(sink, heap, content.subnodes, prop.hnid);
      if (!resolved) ADD_FAILURE() << "property " << Le(key, 0, 2) << " has a dangling HNID";
      prop.value = resolved.value_or(Bytes{});
    }
    out[static_cast<std::uint16_t>(Le(key, 0, 2))] = std::move(prop);
  }
  return out;
}

// ---- TC ----

std::optional<Bytes> ParsedTable::Cell(const FakeSink& sink, const NodeContent& content, std::size_t row,
                                       std::uint32_t tag) const {
  for (const ParsedColumn& c : columns) {
    if (c.tag != tag) continue;
    const Bytes& r = rows.at(row);
    if ((r[rgib[2] + c.bit / 8] & (0x80 >> (c.bit % 8))) == 0) return std::nullopt;
    Bytes cell(r.begin() + c.offset, r.begin() + c.offset + c.size);
    const std::uint16_t type = tag & 0xFFFF;
    const bool reference =
        type == 0x1F || type == 0x1E || type == 0x102 || type == 0x48 || type == 0xD || (type & 0x1000);
    if (!reference) return cell;
    std::optional<Bytes> value =
        ResolveHnid(sink, heap, content.subnodes, static_cast<std::uint32_t>(Le(cell, 0, 4)));
    if (!value) ADD_FAILURE() << "dangling HNID in a cell";
    return value;
  }
  ADD_FAILURE() << "no column " << tag;
  return std::nullopt;
}

ParsedTable ReadTableContext(const FakeSink& sink, const NodeContent& content) {
  ParsedTable table;
  table.heap = ParseHeap(sink.Leaves(content.data));
  if (!table.heap.ok) return table;
  EXPECT_EQ(table.heap.clientSig, 0x7C);
  const Bytes* info = table.heap.Item(table.heap.userRoot);
  if (info == nullptr || info->size() < 22 || (*info)[0] != 0x7C) {
    ADD_FAILURE() << "bad TCINFO";
    return table;
  }
  const std::size_t cols = (*info)[1];
  EXPECT_EQ(info->size(), 22 + 8 * cols);
  for (int i = 0; i < 4; ++i) table.rgib[i] = static_cast<std::uint16_t>(Le(*info, 2 + 2 * i, 2));
  const std::uint32_t rowIndex = static_cast<std::uint32_t>(Le(*info, 10, 4));
  table.hnidRows = static_cast<std::uint32_t>(Le(*info, 14, 4));
  EXPECT_EQ(Le(*info, 18, 4), 0u) << "hidIndex";
  for (std::size_t i = 0; i < cols; ++i) {
    ParsedColumn c;
    c.tag = static_cast<std::uint32_t>(Le(*info, 22 + 8 * i, 4));
    c.offset = static_cast<std::uint16_t>(Le(*info, 26 + 8 * i, 2));
    c.size = (*info)[28 + 8 * i];
    c.bit = (*info)[29 + 8 * i];
    if (i > 0) {
      EXPECT_LT(table.columns.back().tag, c.tag) << "TCOLDESC not sorted by tag";
    }
    table.columns.push_back(c);
  }
  const std::size_t rowSize = table.rgib[3];
  EXPECT_EQ(rowSize - table.rgib[2], (cols + 7) / 8) << "existence bitmap size";

  ParsedBth index = ParseBth(table.heap, rowIndex);
  if (!index.ok) return table;
  EXPECT_EQ(index.keySize, 4u);
  EXPECT_EQ(index.valueSize, 4u);
  for (const auto& [key, value] : index.records) {
    table.indexKeys.push_back(static_cast<std::uint32_t>(Le(key, 0, 4)));
    table.indexRows.push_back(static_cast<std::uint32_t>(Le(value, 0, 4)));
  }
  const std::size_t rowCount = index.records.size();

  if (table.hnidRows == 0) {
    EXPECT_EQ(rowCount, 0u);
  } else if ((table.hnidRows & 0x1F) == 0) {
    const Bytes* matrix = table.heap.Item(table.hnidRows);
    if (matrix == nullptr || matrix->size() != rowCount * rowSize) {
      ADD_FAILURE() << "heap row matrix size";
      return table;
    }
    for (std::size_t r = 0; r < rowCount; ++r) {
      table.rows.emplace_back(matrix->begin() + static_cast<std::ptrdiff_t>(r * rowSize),
                              matrix->begin() + static_cast<std::ptrdiff_t>((r + 1) * rowSize));
    }
  } else {
    EXPECT_EQ(table.hnidRows & 0x1F, 0x1Fu) << "row matrix subnode type";
    const ndb::SubnodeRef* ref = nullptr;
    for (const auto& s : content.subnodes) {
      if (s.nid == table.hnidRows) ref = &s;
    }
    if (ref == nullptr) {
      ADD_FAILURE() << "row matrix subnode missing";
      return table;
    }
    table.matrixBlocks = sink.Leaves(ref->data);
    // A reader finds row N in block N / rowsPerBlock: whole rows only, every block but the last full.
    const std::size_t perBlock = ndb::kMaxBlockData / rowSize;
    for (std::size_t r = 0; r < rowCount; ++r) {
      const std::size_t block = r / perBlock, at = (r % perBlock) * rowSize;
      if (block >= table.matrixBlocks.size() || at + rowSize > table.matrixBlocks[block].size()) {
        ADD_FAILURE() << "row " << r << " not where a reader looks for it";
        return table;
      }
      table.rows.emplace_back(table.matrixBlocks[block].begin() + static_cast<std::ptrdiff_t>(at),
                              table.matrixBlocks[block].begin() + static_cast<std::ptrdiff_t>(at + rowSize));
    }
    EXPECT_EQ(table.matrixBlocks.size(), (rowCount + perBlock - 1) / perBlock) << "surplus matrix blocks";
  }
  for (std::size_t i = 0; i < rowCount; ++i) {
    if (table.indexRows[i] >= table.rows.size() ||
        Le(table.rows[table.indexRows[i]], 0, 4) != table.indexKeys[i]) {
      ADD_FAILURE() << "row index entry " << i << " does not point at its row";
      return table;
    }
  }
  table.ok = true;
  return table;
}

}  // namespace pst::ltp::testing
