// TableContextBuilder: the rows of a folder's hierarchy or contents, a message's recipients or its
// attachments, as a heap whose user root is TCINFO:
//
//   TCINFO: 0x7C, cCols, rgib[4] (ends of the 8/4-byte, 2-byte and 1-byte cells and of the
//           cell-existence bitmap = row size), hidRowIndex, hnidRows, hidIndex 0, TCOLDESC[cCols]
//   TCOLDESC: tag (4), ibData (2), cbData (1), iBit (1), sorted by tag
//   row:  RowId @0 | RowVer @4 | 8-byte cells | 4-byte cells | 2-byte | 1-byte | existence bits
//
// The row index is a BTree-on-heap from row id to row number. The row matrix lives in the heap
// while it fits one allocation; past that it streams into a subnode whose blocks each hold whole
// rows only and are padded to a full block, so a reader finds row N in block N / rowsPerBlock.
// Rows go to the sink as blocks fill: memory per row is its index entry and its heap values.
//
// Variable-size cells (strings, binary, GUIDs, multi-values) hold an HNID: a heap item, or a
// subnode for values past kMaxHeapItem. An empty variable-size value is written as an absent cell
// rather than as HNID 0, which strict readers reject inside tables.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "common/status.h"
#include "pst/ltp/heap_builder.h"
#include "pst/ltp/node_content.h"
#include "pst/ltp/property_value.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp {

inline constexpr PropTag kTagLtpRowId = 0x67F20003;
inline constexpr PropTag kTagLtpRowVer = 0x67F30003;

struct TableColumn {
  PropTag tag = 0;
  std::uint16_t offset = 0;  // ibData
  std::uint8_t size = 0;     // cbData
  std::uint8_t bit = 0;      // iBit
};

class TableLayout {
 public:
  // Lays out `tags` (the row id and row version columns are added when missing). Existence bits
  // follow the order given after those two.
  // Errors: InvalidArgument for an unknown type, a repeated tag or more than 255 columns.
  static quill::Result<TableLayout> Make(std::span<const PropTag> tags);

  const std::vector<TableColumn>& columns() const { return columns_; }  // sorted by tag
  const TableColumn* Find(PropTag tag) const;
  std::uint16_t end4() const { return end4_; }
  std::uint16_t end2() const { return end2_; }
  std::uint16_t end1() const { return end1_; }
  std::uint16_t rowSize() const { return rowSize_; }

 private:
  std::vector<TableColumn> columns_;
  std::uint16_t end4_ = 0, end2_ = 0, end1_ = 0, rowSize_ = 0;
};

using TableCell = std::pair<PropTag, PropValue>;

class TableContextBuilder {
 public:
  // Errors: those of TableLayout::Make.
  static quill::Result<TableContextBuilder> Create(ndb::NodeSink& sink, std::span<const PropTag> columns);

  TableContextBuilder(TableContextBuilder&&) = default;
  TableContextBuilder& operator=(TableContextBuilder&&) = default;

  // Appends a row. The row id cell is always `rowId`; the row version is 1 unless a cell for it is
  // given; columns without a cell are absent in this row.
  // Errors: InvalidArgument for a cell whose tag is not a column; NotSupported past 2^32 - 1 rows;
  // whatever the sink returns (after which the table cannot be built).
  quill::Status AddRow(std::uint32_t rowId, std::span<const TableCell> cells);

  std::size_t rowCount() const { return index_.size(); }
  const TableLayout& layout() const { return layout_; }

  // Writes the row index, TCINFO, the heap and the rest of the row matrix.
  // Errors: InvalidArgument when two rows share a row id; whatever the sink returns.
  // REQUIRES: called once.
  quill::Result<NodeContent> Build();

  // Build, then enter the result as top-level node `nid` under `parent`.
  quill::Status WriteTopLevel(ndb::Nid nid, ndb::Nid parent);

 private:
  TableContextBuilder(ndb::NodeSink& sink, TableLayout layout, HeapBuilder heap, Hid rowIndexHeader,
                      Hid info);

  ndb::Nid NextSubnode(ndb::Bid data);
  quill::Status FlushMatrixBlock();

  ndb::NodeSink* sink_;
  TableLayout layout_;
  HeapBuilder heap_;
  Hid rowIndexHeader_;
  Hid info_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> index_;  // row id, row number
  std::vector<std::uint8_t> matrix_;  // rows not yet written: all of them while in the heap
  bool streaming_ = false;
  std::vector<ndb::Bid> matrixLeaves_;
  std::uint64_t matrixBytes_ = 0;  // bytes of rows in written blocks, padding included
  std::vector<ndb::SubnodeRef> subnodes_;
  std::uint32_t nextSubnode_ = 1;
  quill::Status failed_;
};

}  // namespace pst::ltp
