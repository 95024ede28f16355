#include "pst/ltp/stream_writer.h"

#include <algorithm>

namespace pst::ltp {

quill::Status StreamWriter::Flush() {
  QUILL_ASSIGN_OR_RETURN(const ndb::Bid bid, sink_->WriteDataBlock(pending_));
  leaves_.push_back(bid);
  pending_.clear();
  return quill::Status::Ok();
}

quill::Status StreamWriter::Append(std::span<const std::uint8_t> bytes) {
  if (!failed_.ok()) return failed_;
  if (size_ + bytes.size() > kMaxStreamSize) {
    failed_ = quill::Status::InvalidArgument("value of 4 GiB or more");
    return failed_;
  }
  size_ += bytes.size();
  // Whole blocks with more to follow go to the sink straight from the caller's bytes; only the
  // tail waits in pending_ (the last block is written by Finish or by the next Append).
  while (pending_.empty() && bytes.size() > ndb::kMaxBlockData) {
    quill::Result<ndb::Bid> bid = sink_->WriteDataBlock(bytes.first(ndb::kMaxBlockData));
    if (!bid.ok()) {
      failed_ = bid.status();
      return failed_;
    }
    leaves_.push_back(*bid);
    bytes = bytes.subspan(ndb::kMaxBlockData);
  }
  while (!bytes.empty()) {
    if (pending_.size() == ndb::kMaxBlockData) {
      failed_ = Flush();
      if (!failed_.ok()) return failed_;
    }
    const std::size_t take = std::min(bytes.size(), ndb::kMaxBlockData - pending_.size());
    pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
    bytes = bytes.subspan(take);
  }
  return quill::Status::Ok();
}

quill::Result<ndb::Bid> StreamWriter::Finish() {
  if (!failed_.ok()) return failed_;
  if (!pending_.empty()) QUILL_RETURN_IF_ERROR(Flush());
  if (leaves_.empty()) return ndb::Bid{0};
  return sink_->WriteDataTree(leaves_, size_);
}

quill::Result<ndb::Bid> WriteStream(ndb::NodeSink& sink, std::span<const std::uint8_t> bytes) {
  StreamWriter writer(sink);
  QUILL_RETURN_IF_ERROR(writer.Append(bytes));
  return writer.Finish();
}

}  // namespace pst::ltp
