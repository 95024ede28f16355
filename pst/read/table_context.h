// Table context: a heap (client signature 0x7C) whose root is TCINFO, describing the columns,
// a row index (BTree-on-heap rowId -> row number) and the row matrix, which sits in the heap when
// small and in a subnode when large. Each row is fixed-size: 8- and 4-byte cells, then 2-byte,
// then 1-byte cells, then a bitmap telling which cells exist.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/read/properties.h"
#include "pst/read/pst_file.h"

namespace pst::read {

struct TableColumn {
  std::uint32_t tag = 0;
  std::uint16_t offset = 0;
  std::uint8_t size = 0;
  std::uint8_t bit = 0;
};

struct TableRow {
  std::uint32_t row_id = 0;
  Properties cells;  // only the cells whose existence bit is set
};

struct TableContext {
  std::vector<TableColumn> columns;
  std::uint16_t row_size = 0;
  std::vector<TableRow> rows;         // in row-matrix order
  std::size_t row_index_entries = 0;  // records in the row index
  std::size_t matrix_rows = 0;        // rows the matrix holds
  std::vector<std::string> issues;    // layout faults that did not stop the read
};

// REQUIRES: `node` was loaded from `file`. Corruption when the node is not a table context or
// its column descriptions cannot be used.
Result<TableContext> ReadTableContext(const PstFile& file, const Node& node);

}  // namespace pst::read
