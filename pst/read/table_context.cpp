#include "pst/read/table_context.h"

#include <algorithm>
#include <map>

#include "pst/read/heap.h"
#include "pst/read/property_context.h"

namespace pst::read {
namespace {

constexpr std::uint32_t kTagRowId = 0x67F20003;
constexpr std::uint32_t kTagRowVer = 0x67F30003;

// The width a cell of `type` takes in a row.
int CellSize(std::uint16_t type) {
  if (type & prop_type::kMultiple) return 4;
  const int fixed = FixedSizeOf(type);
  if (fixed < 0) return -1;
  if (type == prop_type::kGuid || fixed == 0) return 4;  // an HNID
  return fixed;
}

}  // namespace

Result<TableContext> ReadTableContext(const PstFile& file, const Node& node) {
  QUILL_ASSIGN_OR_RETURN(const Heap heap, Heap::Parse(node.blocks));
  if (heap.client_signature() != kClientTable) {
    return Status::Corruption("node " + Hex(node.nid) + " is not a table context");
  }
  QUILL_ASSIGN_OR_RETURN(const std::span<const std::uint8_t> info, heap.Get(heap.user_root()));
  if (info.size() < 22 || info[0] != kClientTable) return Status::Corruption("table header malformed");
  const std::size_t cols = info[1];
  if (info.size() < 22 + 8 * cols) return Status::Corruption("table header shorter than its columns");
  TableContext tc;
  const std::uint16_t end4 = Le16(info, 2), end2 = Le16(info, 4), end1 = Le16(info, 6),
                      end_bm = Le16(info, 8);
  const Hid row_index = Le32(info, 10);
  const std::uint32_t rows_hnid = Le32(info, 14);
  if (Le32(info, 18) != 0) tc.issues.push_back("deprecated index heap id not zero");
  if (!(end4 <= end2 && end2 <= end1 && end1 <= end_bm))
    return Status::Corruption("table cell group offsets out of order");
  tc.row_size = end_bm;
  if (end_bm - end1 != static_cast<int>((cols + 7) / 8))
    tc.issues.push_back("existence bitmap size does not fit the column count");
  std::vector<bool> bit_used(cols, false);
  for (std::size_t i = 0; i < cols; ++i) {
    TableColumn c{Le32(info, 22 + 8 * i), Le16(info, 26 + 8 * i), info[28 + 8 * i], info[29 + 8 * i]};
    const std::string name = "column " + Hex(c.tag);
    const int want = CellSize(static_cast<std::uint16_t>(c.tag));
    if (want < 0) return Status::Corruption(name + ": unknown type");
    if (c.size != want) return Status::Corruption(name + ": cell size " + std::to_string(c.size));
    if (c.offset + c.size > end1 || c.bit >= cols) return Status::Corruption(name + ": cell outside the row");
    const std::uint16_t group_end = c.size >= 4 ? end4 : (c.size == 2 ? end2 : end1);
    const std::uint16_t group_begin = c.size >= 4 ? 0 : (c.size == 2 ? end4 : end2);
    if (c.offset < group_begin || c.offset + c.size > group_end)
      tc.issues.push_back(name + ": cell in the wrong size group");
    if (bit_used[c.bit]) tc.issues.push_back(name + ": existence bit shared");
    bit_used[c.bit] = true;
    if (!tc.columns.empty() && c.tag <= tc.columns.back().tag)
      tc.issues.push_back(name + ": columns not sorted by tag");
    if (c.tag == kTagRowId && (c.offset != 0 || c.bit != 0))
      tc.issues.push_back("row id column not first in the row");
    if (c.tag == kTagRowVer && (c.offset != 4 || c.bit != 1))
      tc.issues.push_back("row version column not second in the row");
    tc.columns.push_back(c);
  }
  // Overlapping cells would make two properties share bytes.
  std::vector<TableColumn> by_offset = tc.columns;
  std::sort(by_offset.begin(), by_offset.end(),
            [](const auto& a, const auto& b) { return a.offset < b.offset; });
  for (std::size_t i = 1; i < by_offset.size(); ++i) {
    if (by_offset[i - 1].offset + by_offset[i - 1].size > by_offset[i].offset) {
      tc.issues.push_back("cells of columns " + Hex(by_offset[i - 1].tag) + " and " + Hex(by_offset[i].tag) +
                          " overlap");
    }
  }

  QUILL_ASSIGN_OR_RETURN(const BthInfo index, ReadBth(heap, row_index));
  if (!index.records.empty() && (index.key_size != 4 || index.data_size != 4)) {
    return Status::Corruption("row index key/data sizes " + std::to_string(index.key_size) + "/" +
                              std::to_string(index.data_size));
  }
  tc.row_index_entries = index.records.size();

  // Gather the row matrix: rows never straddle blocks, so each block holds whole rows.
  std::vector<std::vector<std::uint8_t>> matrix_blocks;
  if (rows_hnid != 0) {
    if ((rows_hnid & 0x1F) == 0) {
      QUILL_ASSIGN_OR_RETURN(const std::span<const std::uint8_t> m, heap.Get(rows_hnid));
      matrix_blocks.emplace_back(m.begin(), m.end());
    } else {
      auto it = node.subnodes.find(rows_hnid);
      if (it == node.subnodes.end())
        return Status::NotFound("row matrix subnode " + Hex(rows_hnid) + " missing");
      QUILL_ASSIGN_OR_RETURN(std::vector<std::vector<std::uint8_t>> blocks,
                             file.ReadDataTree(it->second.data));
      matrix_blocks = std::move(blocks);
      for (std::size_t i = 0; i + 1 < matrix_blocks.size(); ++i) {
        if (matrix_blocks[i].size() != kMaxBlockData)
          tc.issues.push_back("row matrix block before the last not full");
      }
    }
  }
  std::vector<std::span<const std::uint8_t>> matrix_rows;
  if (tc.row_size == 0 && rows_hnid != 0) return Status::Corruption("table with rows of size zero");
  for (std::size_t b = 0; b < matrix_blocks.size(); ++b) {
    const std::vector<std::uint8_t>& blk = matrix_blocks[b];
    const std::size_t n = blk.size() / tc.row_size;
    if (matrix_blocks.size() == 1 && blk.size() % tc.row_size != 0)
      tc.issues.push_back("row matrix holds a partial row");
    for (std::size_t r = 0; r < n; ++r) matrix_rows.emplace_back(blk.data() + r * tc.row_size, tc.row_size);
  }
  tc.matrix_rows = matrix_rows.size();

  std::map<std::size_t, std::uint32_t> index_of_row;
  for (const BthRecord& r : index.records) {
    const std::uint32_t row = Le32(r.data, 0);
    if (row >= matrix_rows.size()) {
      tc.issues.push_back("row index entry " + Hex(r.key) + " points past the row matrix");
      continue;
    }
    if (!index_of_row.emplace(row, static_cast<std::uint32_t>(r.key)).second) {
      tc.issues.push_back("two row index entries point at row " + std::to_string(row));
    }
  }
  for (const auto& [row, row_id] : index_of_row) {
    std::span<const std::uint8_t> bytes = matrix_rows[row];
    TableRow tr;
    tr.row_id = row_id;
    if (Le32(bytes, 0) != row_id) {
      tc.issues.push_back("row " + std::to_string(row) + " starts with " + Hex(Le32(bytes, 0)) +
                          " but is indexed as " + Hex(row_id));
    }
    const std::size_t ceb = end1;
    for (const TableColumn& c : tc.columns) {
      const std::size_t byte = ceb + c.bit / 8;
      if (byte >= bytes.size() || !(bytes[byte] & (0x80 >> (c.bit % 8)))) continue;
      PropValue v;
      v.type = static_cast<std::uint16_t>(c.tag);
      const int fixed = FixedSizeOf(v.type);
      if ((v.type & prop_type::kMultiple) == 0 && fixed > 0 && v.type != prop_type::kGuid) {
        v.bytes.assign(bytes.begin() + c.offset, bytes.begin() + c.offset + c.size);
      } else {
        Result<std::vector<std::uint8_t>> val = ReadHnid(file, node, heap, Le32(bytes, c.offset));
        if (!val.ok()) {
          tc.issues.push_back("row " + Hex(row_id) + " column " + Hex(c.tag) + ": " + val.status().message());
          continue;
        }
        v.bytes = std::move(val).value();
      }
      if (Status s = ValidateValue(v); !s.ok()) {
        tc.issues.push_back("row " + Hex(row_id) + " column " + Hex(c.tag) + ": " + s.message());
      }
      tr.cells[static_cast<std::uint16_t>(c.tag >> 16)] = std::move(v);
    }
    tc.rows.push_back(std::move(tr));
  }
  if (tc.row_index_entries != tc.matrix_rows) {
    tc.issues.push_back("row index has " + std::to_string(tc.row_index_entries) +
                        " entries but the matrix holds " + std::to_string(tc.matrix_rows) + " rows");
  }
  return tc;
}

}  // namespace pst::read
