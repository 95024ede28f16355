#include "pst/ltp/table_context.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "pst/ltp/bth_builder.h"
#include "pst/ltp/stream_writer.h"
#include "pst/ndb/le_bytes.h"

namespace pst::ltp {

using ndb::AppendLe;
using ndb::StoreLe;

namespace {

constexpr std::uint8_t kTcInfoType = 0x7C;
constexpr std::size_t kTcInfoFixedSize = 22;
constexpr std::size_t kColumnDescSize = 8;
constexpr std::size_t kMaxColumns = 255;

std::size_t TcInfoSize(std::size_t columns) { return kTcInfoFixedSize + kColumnDescSize * columns; }

}  // namespace

quill::Result<TableLayout> TableLayout::Make(std::span<const PropTag> tags) {
  std::vector<PropTag> ordered = {kTagLtpRowId, kTagLtpRowVer};
  for (PropTag tag : tags) {
    if (tag == kTagLtpRowId || tag == kTagLtpRowVer) continue;
    if (!IsKnownType(PropTypeOf(tag))) return quill::Status::InvalidArgument("column of unknown type");
    if (std::find(ordered.begin(), ordered.end(), tag) != ordered.end()) {
      return quill::Status::InvalidArgument("column given twice");
    }
    ordered.push_back(tag);
  }
  if (ordered.size() > kMaxColumns) return quill::Status::InvalidArgument("more than 255 columns");

  TableLayout layout;
  std::vector<TableColumn> columns(ordered.size());
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    columns[i].tag = ordered[i];
    columns[i].size = static_cast<std::uint8_t>(CellSizeOf(PropTypeOf(ordered[i])));
    columns[i].bit = static_cast<std::uint8_t>(i);
  }
  // Row id and version take the first two 4-byte slots; 8-byte cells follow while the offset is
  // still 8-aligned, then the narrower groups, each group closed by its rgib entry.
  std::size_t offset = 8;
  auto place = [&](std::size_t size) {
    for (std::size_t i = 2; i < columns.size(); ++i) {
      if (columns[i].size == size) {
        columns[i].offset = static_cast<std::uint16_t>(offset);
        offset += size;
      }
    }
  };
  columns[0].offset = 0;
  columns[1].offset = 4;
  place(8);
  place(4);
  layout.end4_ = static_cast<std::uint16_t>(offset);
  place(2);
  layout.end2_ = static_cast<std::uint16_t>(offset);
  place(1);
  layout.end1_ = static_cast<std::uint16_t>(offset);
  offset += (columns.size() + 7) / 8;
  layout.rowSize_ = static_cast<std::uint16_t>(offset);

  std::sort(columns.begin(), columns.end(),
            [](const TableColumn& a, const TableColumn& b) { return a.tag < b.tag; });
  layout.columns_ = std::move(columns);
  return layout;
}

const TableColumn* TableLayout::Find(PropTag tag) const {
  auto it = std::lower_bound(columns_.begin(), columns_.end(), tag,
                             [](const TableColumn& c, PropTag t) { return c.tag < t; });
  return it != columns_.end() && it->tag == tag ? &*it : nullptr;
}

TableContextBuilder::TableContextBuilder(ndb::NodeSink& sink, TableLayout layout, HeapBuilder heap,
                                         Hid rowIndexHeader, Hid info)
    : sink_(&sink),
      layout_(std::move(layout)),
      heap_(std::move(heap)),
      rowIndexHeader_(rowIndexHeader),
      info_(info) {}

quill::Result<TableContextBuilder> TableContextBuilder::Create(ndb::NodeSink& sink,
                                                               std::span<const PropTag> columns) {
  QUILL_ASSIGN_OR_RETURN(const TableLayout layout, TableLayout::Make(columns));
  // Outlook's order: row index header first, TCINFO second; both are filled in by Build.
  HeapBuilder heap(static_cast<std::uint8_t>(HeapClient::kTable));
  QUILL_ASSIGN_OR_RETURN(const Hid rowIndex, ReserveBthHeader(heap));
  const std::vector<std::uint8_t> placeholder(TcInfoSize(layout.columns().size()), 0);
  QUILL_ASSIGN_OR_RETURN(const Hid info, heap.Allocate(placeholder));
  heap.SetUserRoot(info);
  // A table's heap grows with its rows; only the first block changes after it fills.
  heap.SpillTo(sink);
  return TableContextBuilder(sink, std::move(layout), std::move(heap), rowIndex, info);
}

ndb::Nid TableContextBuilder::NextSubnode(ndb::Bid data) {
  const ndb::Nid nid = ndb::MakeNid(ndb::NidType::kLtp, nextSubnode_++);
  subnodes_.push_back(ndb::SubnodeRef{nid, data, 0});
  return nid;
}

quill::Status TableContextBuilder::FlushMatrixBlock() {
  matrix_.resize(ndb::kMaxBlockData, 0);
  QUILL_ASSIGN_OR_RETURN(const ndb::Bid bid, sink_->WriteDataBlock(matrix_));
  matrixLeaves_.push_back(bid);
  matrixBytes_ += matrix_.size();
  matrix_.clear();
  return quill::Status::Ok();
}

quill::Status TableContextBuilder::AddRow(std::uint32_t rowId, std::span<const TableCell> cells) {
  if (!failed_.ok()) return failed_;
  const std::size_t rowSize = layout_.rowSize();
  if (index_.size() >= 0xFFFFFFFFu || matrixBytes_ + 2 * ndb::kMaxBlockData > kMaxStreamSize) {
    return quill::Status::NotSupported("table too large");
  }
  for (const TableCell& cell : cells) {
    if (layout_.Find(cell.first) == nullptr || cell.second.type() != PropTypeOf(cell.first)) {
      return quill::Status::InvalidArgument("row cell is not a column of the table");
    }
  }

  std::vector<std::uint8_t> row(rowSize, 0);
  auto setPresent = [&](const TableColumn& column) {
    row[layout_.end1() + column.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (column.bit % 8));
  };
  StoreLe(row.data(), rowId, 4);
  setPresent(*layout_.Find(kTagLtpRowId));
  StoreLe(row.data() + 4, 1, 4);
  setPresent(*layout_.Find(kTagLtpRowVer));

  for (const TableCell& cell : cells) {
    const TableColumn& column = *layout_.Find(cell.first);
    if (column.tag == kTagLtpRowId) continue;
    const std::vector<std::uint8_t>& bytes = cell.second.bytes();
    std::uint8_t* at = row.data() + column.offset;
    if (!IsReferenceCell(cell.second.type())) {
      std::memcpy(at, bytes.data(), column.size);
    } else if (bytes.empty()) {
      continue;
    } else if (bytes.size() <= kMaxHeapItem) {
      quill::Result<Hid> hid = heap_.Allocate(bytes);
      if (!hid.ok()) return failed_ = hid.status();
      StoreLe(at, *hid, 4);
    } else {
      quill::Result<ndb::Bid> data = WriteStream(*sink_, bytes);
      if (!data.ok()) return failed_ = data.status();
      StoreLe(at, NextSubnode(*data), 4);
    }
    setPresent(column);
  }

  if (!streaming_ && matrix_.size() + rowSize > kMaxHeapItem) streaming_ = true;
  if (streaming_ && matrix_.size() + rowSize > ndb::kMaxBlockData) {
    if (quill::Status s = FlushMatrixBlock(); !s.ok()) return failed_ = s;
  }
  index_.emplace_back(rowId, static_cast<std::uint32_t>(index_.size()));
  matrix_.insert(matrix_.end(), row.begin(), row.end());
  return quill::Status::Ok();
}

quill::Result<NodeContent> TableContextBuilder::Build() {
  if (!failed_.ok()) return failed_;
  std::sort(index_.begin(), index_.end());
  std::vector<std::uint8_t> records;
  records.reserve(index_.size() * 8);
  for (const auto& [rowId, number] : index_) {
    AppendLe(records, rowId, 4);
    AppendLe(records, number, 4);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>>().swap(index_);
  QUILL_RETURN_IF_ERROR(BuildBth(heap_, rowIndexHeader_, 4, 4, records));

  std::uint32_t rows = 0;
  if (streaming_) {
    if (!matrix_.empty()) {
      QUILL_ASSIGN_OR_RETURN(const ndb::Bid bid, sink_->WriteDataBlock(matrix_));
      matrixLeaves_.push_back(bid);
      matrixBytes_ += matrix_.size();
    }
    QUILL_ASSIGN_OR_RETURN(const ndb::Bid top, sink_->WriteDataTree(matrixLeaves_, matrixBytes_));
    rows = NextSubnode(top);
  } else if (!matrix_.empty()) {
    QUILL_ASSIGN_OR_RETURN(const Hid hid, heap_.Allocate(matrix_));
    rows = hid;
  }

  std::vector<std::uint8_t> info;
  info.reserve(TcInfoSize(layout_.columns().size()));
  info.push_back(kTcInfoType);
  info.push_back(static_cast<std::uint8_t>(layout_.columns().size()));
  AppendLe(info, layout_.end4(), 2);
  AppendLe(info, layout_.end2(), 2);
  AppendLe(info, layout_.end1(), 2);
  AppendLe(info, layout_.rowSize(), 2);
  AppendLe(info, rowIndexHeader_, 4);
  AppendLe(info, rows, 4);
  AppendLe(info, 0, 4);
  for (const TableColumn& column : layout_.columns()) {
    AppendLe(info, column.tag, 4);
    AppendLe(info, column.offset, 2);
    info.push_back(column.size);
    info.push_back(column.bit);
  }
  QUILL_RETURN_IF_ERROR(heap_.Replace(info_, info));

  QUILL_ASSIGN_OR_RETURN(const ndb::Bid data, heap_.Write(*sink_));
  return NodeContent{data, std::move(subnodes_)};
}

quill::Status TableContextBuilder::WriteTopLevel(ndb::Nid nid, ndb::Nid parent) {
  QUILL_ASSIGN_OR_RETURN(const NodeContent content, Build());
  return WriteTopLevelNode(*sink_, nid, parent, content);
}

}  // namespace pst::ltp
