// FileWriter: the NodeSink that writes a Unicode PST file.
//
// Blocks go to disk as they are handed over, through one large write buffer; what stays in memory
// until Close is one small record per block and per node (about 16 and 24 bytes). Close sorts the
// nodes, writes both B-trees, the allocation maps, the density list and finally the header, and
// only then replaces the target.
//
// The writer writes into a file it is handed and does not own (Open), as the store's layers above
// need nothing but the NodeSink. Create adds the usual way of writing a target path: a temporary
// file beside the target (see file_placement.h), which Close moves into place once it is complete
// and on disk, and which Abandon, or destroying the writer without a successful Close, deletes.
// Until then the target is untouched; writtenPath() says where the file went ("name (2).pst" when
// another file took the target meanwhile). While a writer is open, a second writer for the same
// target cannot be created.
//
//   auto w = FileWriter::Create("/x/out.pst");     // Result<std::unique_ptr<FileWriter>>
//   ... the layer above writes blocks and nodes through the NodeSink interface ...
//   quill::Status s = (*w)->Close();
//
// Not thread-safe. Errors: IOError (with the path and the system's reason) for anything the file
// system refuses; NotSupported when the data outgrows what the format can express.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/env.h"
#include "pst/ndb/btree_builder.h"
#include "pst/ndb/file_placement.h"
#include "pst/ndb/format.h"
#include "pst/ndb/sink_base.h"
#include "pst/ndb/write_behind.h"

namespace pst::ndb {

struct FileWriterOptions {
  CryptMethod crypt = CryptMethod::kPermute;
  // The header's dwUnique; a random value when unset.
  std::optional<std::uint32_t> unique;
  // Bytes collected before each write to disk. Two buffers of this size are used: one fills while
  // the other is being written.
  std::size_t bufferSize = std::size_t{1} << 20;
  // Flush the file (and the folder entry) to stable storage before the rename. Tests turn it off.
  bool sync = true;
  // The file system Create writes to; the system's own when unset. Must outlive the writer.
  fs::Env* env = nullptr;
};

// What Close wrote, for logs and tests.
struct FileSummary {
  std::uint64_t fileSize = 0;
  std::uint64_t blocks = 0;   // blocks in the block B-tree
  std::uint64_t dropped = 0;  // blocks written but referenced by no node, left out
  std::uint64_t nodes = 0;
  int nbtLevels = 0;
  int bbtLevels = 0;
};

class FileWriter final : public SinkBase {
 public:
  static quill::Result<std::unique_ptr<FileWriter>> Create(const std::string& targetPath,
                                                           const FileWriterOptions& options = {});
  // Writes into `file` (from offset 0; what it held beyond the new content is cut off), which the
  // writer does not own and which must outlive it; `name` stands for it in messages. Close
  // completes the file and leaves it open; Abandon leaves what was written.
  static quill::Result<std::unique_ptr<FileWriter>> Open(fs::WritableFile* file, const std::string& name,
                                                         const FileWriterOptions& options = {});
  ~FileWriter() override;

  // Completes the file and (Create) moves it over the target. On failure the temporary file is
  // removed and the target left as it was. REQUIRES: called at most once; no NodeSink call after.
  quill::Status Close();

  // Drops everything written so far; the target is left as it was.
  void Abandon();

  // Create's temporary file; empty once placed or abandoned, and for a writer made by Open.
  const std::string& temporaryPath() const;
  // Where Close put the file: the target, or the next free name beside it. Empty until then.
  const std::string& writtenPath() const { return writtenPath_; }
  // Valid after a successful Close.
  const FileSummary& summary() const { return summary_; }

 protected:
  quill::Result<std::uint64_t> StoreBlock(Bid bid, BlockKind kind,
                                          std::span<const std::uint8_t> bytes) override;
  quill::Result<std::vector<std::uint8_t>> LoadInternalBlock(Bid bid, const BlockRecord& record) override;

 private:
  FileWriter(fs::WritableFile* file, const std::string& name, const FileWriterOptions& options);
  // Allocates the buffers and starts the write-behind thread.
  quill::Status Start();

  // Reserves `size` bytes at the cursor and returns a pointer into the buffer where they go.
  quill::Result<std::uint8_t*> Reserve(std::uint64_t size, std::uint64_t align, std::uint64_t* ib);
  quill::Status Flush();
  // Waits until everything flushed is in the file.
  quill::Status Drain();
  std::vector<std::uint8_t>& buffer() { return buffers_[active_]; }
  quill::Status PutAt(std::uint64_t ib, const std::uint8_t* data, std::size_t size);
  void OpenRegion(std::uint64_t k);
  quill::Status WriteBTrees(BlockRef* nbtRoot, BlockRef* bbtRoot);
  quill::Status WriteAllocationMaps(std::uint64_t regions, std::uint64_t* freeBytes);
  quill::Status WriteDensityList();
  quill::Status WriteHeader(const BlockRef& nbtRoot, const BlockRef& bbtRoot, std::uint64_t regions,
                            std::uint64_t freeBytes);
  quill::Status Finish();
  quill::Status IoError(const std::string& what, int err) const;

  std::unique_ptr<FilePlacement> placement_;  // Create's temporary file and its move; null for Open
  fs::WritableFile* file_;                    // written to, not owned; null once closed or abandoned
  std::string targetPath_;
  std::string writtenPath_;
  FileWriterOptions options_;
  std::array<std::vector<std::uint8_t>, 2> buffers_;
  int active_ = 0;                 // the buffer being filled; the other may be being written
  std::uint64_t bufferStart_ = 0;  // file offset of buffer()[0]
  std::size_t bufferUsed_ = 0;
  std::uint64_t previousStart_ = 0;  // what the other buffer holds: [previousStart_, previousEnd_)
  std::uint64_t previousEnd_ = 0;
  std::unique_ptr<WriteBehind> writeBehind_;
  std::uint64_t cursor_ = 0;      // next free offset
  std::uint64_t openRegion_ = 0;  // highest region whose map pages are placed
  std::uint64_t nextPageBid_ = 1;
  std::vector<std::uint64_t> pageOffsets_;  // B-tree pages, ascending
  bool closed_ = false;
  FileSummary summary_;
};

}  // namespace pst::ndb
