// StreamWriter: a value or table too big for the heap, written to the sink block by block.
//
// Bytes are cut into full data blocks as they arrive, so memory stays at one block however long
// the stream; Finish builds the data tree over the blocks. The result is the data of a subnode.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/status.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp {

// A stream must stay below 4 GiB: the data tree records its size in 32 bits.
inline constexpr std::uint64_t kMaxStreamSize = 0xFFFFFFFFull;

class StreamWriter {
 public:
  explicit StreamWriter(ndb::NodeSink& sink) : sink_(&sink) {}

  // Errors: InvalidArgument once the stream would reach 4 GiB; whatever the sink returns. After an
  // error the writer keeps failing.
  quill::Status Append(std::span<const std::uint8_t> bytes);

  // Writes the last block and the tree; returns the top, or 0 for an empty stream.
  // REQUIRES: called once.
  quill::Result<ndb::Bid> Finish();

  std::uint64_t size() const { return size_; }

 private:
  quill::Status Flush();

  ndb::NodeSink* sink_;
  std::vector<std::uint8_t> pending_;
  std::vector<ndb::Bid> leaves_;
  std::uint64_t size_ = 0;
  quill::Status failed_;
};

// Writes `bytes` as one stream. Returns 0 for an empty span.
quill::Result<ndb::Bid> WriteStream(ndb::NodeSink& sink, std::span<const std::uint8_t> bytes);

}  // namespace pst::ltp
