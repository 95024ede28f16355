#include "pst/ltp/property_context.h"

#include <string>
#include <vector>

#include "pst/ltp/bth_builder.h"
#include "pst/ltp/heap_builder.h"
#include "pst/ltp/stream_writer.h"
#include "pst/ndb/le_bytes.h"

namespace pst::ltp {

using ndb::AppendLe;

namespace {

std::string TagText(PropTag tag) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s += kHex[(tag >> shift) & 0xF];
  return s;
}

}  // namespace

quill::Status PropertyContextBuilder::Set(PropTag tag, PropValue value) {
  const PropType type = PropTypeOf(tag);
  if (!IsKnownType(type) || type != value.type()) {
    return quill::Status::InvalidArgument("property " + TagText(tag) + " does not match its value's type");
  }
  props_.insert_or_assign(PropIdOf(tag), Entry{type, std::move(value)});
  return quill::Status::Ok();
}

quill::Status PropertyContextBuilder::SetBorrowed(PropTag tag, const PropValue& value) {
  const PropType type = PropTypeOf(tag);
  if (!IsKnownType(type) || type != value.type()) {
    return quill::Status::InvalidArgument("property " + TagText(tag) + " does not match its value's type");
  }
  props_.insert_or_assign(PropIdOf(tag), Entry{type, &value});
  return quill::Status::Ok();
}

quill::Status PropertyContextBuilder::SetWritten(PropTag tag, ndb::Bid data, std::uint32_t size) {
  const PropType type = PropTypeOf(tag);
  if (!IsKnownType(type) || FixedSizeOf(type) != 0) {
    return quill::Status::InvalidArgument("property " + TagText(tag) + " is not of a variable-size type");
  }
  if (data == 0 && size != 0) return quill::Status::InvalidArgument("written value without data");
  props_.insert_or_assign(PropIdOf(tag), Entry{type, Written{data, size}});
  return quill::Status::Ok();
}

quill::Result<NodeContent> PropertyContextBuilder::Build() {
  NodeContent content;
  HeapBuilder heap(static_cast<std::uint8_t>(HeapClient::kProperties));
  QUILL_ASSIGN_OR_RETURN(const Hid header, ReserveBthHeader(heap));
  heap.SetUserRoot(header);

  std::uint32_t nextSubnode = 1;
  auto addSubnode = [&](ndb::Bid data) {
    const ndb::Nid nid = ndb::MakeNid(ndb::NidType::kLtp, nextSubnode++);
    content.subnodes.push_back(ndb::SubnodeRef{nid, data, 0});
    return nid;
  };

  std::vector<std::uint8_t> records;
  records.reserve(props_.size() * 8);
  for (const auto& [id, entry] : props_) {
    std::uint32_t hnid = 0;
    if (const Written* written = std::get_if<Written>(&entry.value)) {
      if (written->data != 0) hnid = addSubnode(written->data);
    } else {
      const PropValue* owned = std::get_if<PropValue>(&entry.value);
      const PropValue& value = owned != nullptr ? *owned : *std::get<const PropValue*>(entry.value);
      const std::vector<std::uint8_t>& bytes = value.bytes();
      if (IsInlineInPropertyContext(entry.type)) {
        hnid = value.InlineValue();
      } else if (bytes.empty()) {
        hnid = 0;
      } else if (bytes.size() <= kMaxHeapItem) {
        QUILL_ASSIGN_OR_RETURN(const Hid hid, heap.Allocate(bytes));
        hnid = hid;
      } else {
        QUILL_ASSIGN_OR_RETURN(const ndb::Bid data, WriteStream(*sink_, bytes));
        hnid = addSubnode(data);
      }
    }
    AppendLe(records, id, 2);
    AppendLe(records, static_cast<std::uint16_t>(entry.type), 2);
    AppendLe(records, hnid, 4);
  }
  QUILL_RETURN_IF_ERROR(BuildBth(heap, header, 2, 6, records));

  QUILL_ASSIGN_OR_RETURN(const ndb::Bid data, heap.Write(*sink_));
  content.data = data;
  return content;
}

quill::Status PropertyContextBuilder::WriteTopLevel(ndb::Nid nid, ndb::Nid parent) {
  QUILL_ASSIGN_OR_RETURN(const NodeContent content, Build());
  return WriteTopLevelNode(*sink_, nid, parent, content);
}

}  // namespace pst::ltp
