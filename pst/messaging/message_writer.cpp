#include "pst/messaging/message_writer.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <optional>
#include <span>

#include "pst/ltp/heap_builder.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/stream_writer.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/prop_tags.h"
#include "pst/messaging/table_templates.h"

namespace pst::messaging {
namespace {

using ltp::PropTag;
using ltp::PropValue;

constexpr std::int32_t kAttachMethodByValue = 1;
constexpr std::int32_t kAttachMethodEmbedded = 5;

// Properties keyed by id, the way a property context keeps them: a later value of an id replaces
// an earlier one. A caller's list is pointed to, not copied (it outlives the set): bodies of many
// kilobytes would otherwise be copied once more for every message on the writer's thread.
class PropertySet {
 public:
  void Put(PropTag tag, PropValue value) {
    owned_.push_back(std::move(value));
    Point(tag, &owned_.back());
  }
  void PutAll(const std::vector<Property>& props) {
    for (const Property& p : props) Point(p.first, &p.second);
  }
  void Default(PropTag tag, PropValue value) {
    if (Slot(ltp::PropIdOf(tag)) == nullptr) Put(tag, std::move(value));
  }
  const PropValue* Find(PropTag tag) const {
    const Entry* e = Slot(ltp::PropIdOf(tag));
    return e != nullptr && e->tag == tag ? e->value : nullptr;
  }
  std::int32_t Int32Or(PropTag tag, std::int32_t fallback) const {
    const PropValue* v = Find(tag);
    return v ? static_cast<std::int32_t>(v->InlineValue()) : fallback;
  }
  std::uint64_t ValueBytes() const {
    std::uint64_t n = 0;
    for (const Entry& e : entries_) n += e.value->bytes().size();
    return n;
  }
  // Every property, in id order.
  std::vector<Property> All() const {
    std::vector<Property> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) out.emplace_back(e.tag, *e.value);
    return out;
  }

  // Hands the values to `pc` without copying them: the set, and the lists it points to, must
  // outlive pc.Build().
  quill::Status CopyInto(ltp::PropertyContextBuilder& pc) const {
    for (const Entry& e : entries_) QUILL_RETURN_IF_ERROR(pc.SetBorrowed(e.tag, *e.value));
    return quill::Status::Ok();
  }
  // The cells of `columns` this set has values for.
  std::vector<Property> RowFor(std::span<const PropTag> columns) const {
    std::vector<Property> row;
    for (PropTag column : columns) {
      if (const PropValue* v = Find(column)) row.emplace_back(column, *v);
    }
    return row;
  }

 private:
  struct Entry {
    PropTag tag;
    const PropValue* value;
  };
  // A few dozen properties: a sorted vector beats a tree of separately allocated nodes.
  template <typename Entries>
  static auto LowerBound(Entries& entries, std::uint16_t id) {
    return std::lower_bound(entries.begin(), entries.end(), id,
                            [](const Entry& e, std::uint16_t i) { return ltp::PropIdOf(e.tag) < i; });
  }
  const Entry* Slot(std::uint16_t id) const {
    auto it = LowerBound(entries_, id);
    return it != entries_.end() && ltp::PropIdOf(it->tag) == id ? &*it : nullptr;
  }
  void Point(PropTag tag, const PropValue* value) {
    const std::uint16_t id = ltp::PropIdOf(tag);
    auto it = LowerBound(entries_, id);
    if (it != entries_.end() && ltp::PropIdOf(it->tag) == id) {
      *it = Entry{tag, value};
    } else {
      entries_.insert(it, Entry{tag, value});
    }
  }

  std::vector<Entry> entries_;
  std::deque<PropValue> owned_;  // A deque: what is pointed to never moves.
};

struct BuiltMessage {
  ltp::NodeContent content;
  std::vector<Property> contentsRow;
  bool read = false;
  std::int32_t size = 0;
};

quill::Result<BuiltMessage> BuildMessage(ndb::NodeSink& sink, ndb::Nid nid, const MessageContent& message,
                                         std::uint64_t now, int depth, const BetweenPieces& betweenPieces);

quill::Status CheckTypes(const std::vector<Property>& props) {
  for (const Property& p : props) {
    if (ltp::PropTypeOf(p.first) != p.second.type()) {
      return quill::Status::InvalidArgument("property tag and value type disagree");
    }
  }
  return quill::Status::Ok();
}

std::int32_t ClampToInt32(std::uint64_t n) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(n, std::numeric_limits<std::int32_t>::max()));
}

quill::Result<ndb::SubnodeRef> WriteRecipients(ndb::NodeSink& sink,
                                               const std::vector<RecipientContent>& recipients,
                                               std::uint64_t* sizeOut) {
  // The template's columns, then whatever else the recipients carry (SMTP address, ...).
  std::vector<PropTag> columns(RecipientColumns().begin(), RecipientColumns().end());
  for (const RecipientContent& r : recipients) {
    QUILL_RETURN_IF_ERROR(CheckTypes(r.props));
    for (const Property& p : r.props) {
      if (std::find(columns.begin(), columns.end(), p.first) == columns.end()) columns.push_back(p.first);
    }
  }
  QUILL_ASSIGN_OR_RETURN(ltp::TableContextBuilder table, ltp::TableContextBuilder::Create(sink, columns));
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    PropertySet set;
    set.PutAll(recipients[i].props);
    set.Default(tag::kRecipientType, PropValue::Int32(1));
    set.Default(tag::kObjectType, PropValue::Int32(6));
    set.Default(tag::kDisplayType, PropValue::Int32(0));
    set.Default(tag::kResponsibility, PropValue::Bool(false));
    *sizeOut += set.ValueBytes();
    QUILL_RETURN_IF_ERROR(table.AddRow(static_cast<std::uint32_t>(i + 1), set.All()));
  }
  QUILL_ASSIGN_OR_RETURN(ltp::NodeContent content, table.Build());
  return ltp::WriteSubnode(sink, kNidRecipientTable, content);
}

// The attachment's bytes as the property context takes them: a value in the heap when they fit
// an allocation, else a stream of their own written a piece at a time.
quill::Status SetBytes(ndb::NodeSink& sink, std::span<const std::uint8_t> bytes,
                       const BetweenPieces& betweenPieces, ltp::PropertyContextBuilder& pc) {
  if (bytes.size() <= ltp::kMaxHeapItem) return pc.Set(tag::kAttachDataBinary, PropValue::Binary(bytes));
  if (bytes.size() > ltp::kMaxStreamSize)
    return quill::Status::InvalidArgument("attachment of 4 GiB or more");
  ltp::StreamWriter stream(sink);
  for (std::size_t at = 0; at < bytes.size(); at += kAttachmentPiece) {
    if (at > 0 && betweenPieces) QUILL_RETURN_IF_ERROR(betweenPieces());
    QUILL_RETURN_IF_ERROR(stream.Append(bytes.subspan(at, std::min(kAttachmentPiece, bytes.size() - at))));
  }
  QUILL_ASSIGN_OR_RETURN(ndb::Bid top, stream.Finish());
  return pc.SetWritten(tag::kAttachDataBinary, top, static_cast<std::uint32_t>(bytes.size()));
}

// Writes one attachment's property context as subnode `nid`; returns its subnode entry and adds
// its attachment-table row to `row`.
quill::Result<ndb::SubnodeRef> WriteAttachment(ndb::NodeSink& sink, ndb::Nid nid,
                                               const AttachmentContent& att, std::uint64_t now, int depth,
                                               const BetweenPieces& betweenPieces, std::vector<Property>* row,
                                               std::uint64_t* sizeOut) {
  QUILL_RETURN_IF_ERROR(CheckTypes(att.props));
  const AttachmentData& data = att.data;
  // An embedded message lives in a subnode of the attachment node; its nid comes from the file's
  // message counter as Outlook's do, which also keeps it apart from the attachment's LTP subnodes.
  std::optional<BuiltMessage> embedded;
  ndb::Nid embeddedNid = 0;
  if (const MessageContent* message = data.embedded()) {
    if (depth >= kMaxEmbeddingDepth) return quill::Status::InvalidArgument("messages embedded too deeply");
    embeddedNid = sink.AllocateNid(ndb::NidType::kNormalMessage);
    QUILL_ASSIGN_OR_RETURN(embedded,
                           BuildMessage(sink, embeddedNid, *message, now, depth + 1, betweenPieces));
  }
  std::uint64_t dataSize = 0;
  switch (data.kind()) {
    case AttachmentData::Kind::kBytes:
      dataSize = data.bytes().size();
      break;
    case AttachmentData::Kind::kWritten:
      dataSize = data.written().size;
      break;
    case AttachmentData::Kind::kEmbedded:
      dataSize = static_cast<std::uint64_t>(embedded->size);
      break;
  }
  PropertySet set;
  set.PutAll(att.props);
  if (embedded) set.Put(tag::kAttachMethod, PropValue::Int32(kAttachMethodEmbedded));
  set.Default(tag::kAttachMethod, PropValue::Int32(kAttachMethodByValue));
  set.Default(tag::kRenderingPosition, PropValue::Int32(-1));
  set.Default(tag::kAttachSize, PropValue::Int32(ClampToInt32(dataSize + set.ValueBytes())));
  *sizeOut += dataSize + set.ValueBytes();

  ltp::PropertyContextBuilder pc(sink);
  QUILL_RETURN_IF_ERROR(set.CopyInto(pc));
  switch (data.kind()) {
    case AttachmentData::Kind::kBytes:
      QUILL_RETURN_IF_ERROR(SetBytes(sink, data.bytes(), betweenPieces, pc));
      break;
    case AttachmentData::Kind::kWritten:
      QUILL_RETURN_IF_ERROR(pc.SetWritten(tag::kAttachDataBinary, data.written().top, data.written().size));
      break;
    case AttachmentData::Kind::kEmbedded:
      QUILL_RETURN_IF_ERROR(
          pc.Set(tag::kAttachDataObject,
                 PropValue::Object(embeddedNid, static_cast<std::uint32_t>(embedded->size))));
      break;
  }
  QUILL_ASSIGN_OR_RETURN(ltp::NodeContent content, pc.Build());
  if (embedded) {
    QUILL_ASSIGN_OR_RETURN(ndb::SubnodeRef ref, ltp::WriteSubnode(sink, embeddedNid, embedded->content));
    content.subnodes.push_back(ref);
  }
  *row = set.RowFor(AttachmentColumns());
  return ltp::WriteSubnode(sink, nid, content);
}

// Writes everything of a message but its own entry: attachments, tables, and the property context,
// whose content (with the subnodes) is returned for the caller to enter as a node or a subnode.
quill::Result<BuiltMessage> BuildMessage(ndb::NodeSink& sink, ndb::Nid nid, const MessageContent& message,
                                         std::uint64_t now, int depth, const BetweenPieces& betweenPieces) {
  QUILL_RETURN_IF_ERROR(CheckTypes(message.props));
  std::vector<ndb::SubnodeRef> subnodes;
  std::uint64_t size = 0;

  // Rows go into the attachment table as each attachment is written, so that neither the rows
  // nor the attachments of a message of very many parts are all held at once.
  const std::size_t attachmentCount = message.AttachmentCount();
  if (message.laterAttachments > 0 && !message.makeAttachment) {
    return quill::Status::InvalidArgument("attachments to be made later without a maker");
  }
  if (attachmentCount > 0) {
    QUILL_ASSIGN_OR_RETURN(ltp::TableContextBuilder table,
                           ltp::TableContextBuilder::Create(sink, AttachmentColumns()));
    for (std::size_t i = 0; i < attachmentCount; ++i) {
      const ndb::Nid attNid = ndb::MakeNid(ndb::NidType::kAttachment, static_cast<std::uint32_t>(i + 1));
      std::optional<AttachmentContent> made;
      if (i >= message.attachments.size()) {
        QUILL_ASSIGN_OR_RETURN(made, message.makeAttachment(i));
      }
      std::vector<Property> row;
      QUILL_ASSIGN_OR_RETURN(ndb::SubnodeRef ref,
                             WriteAttachment(sink, attNid, made ? *made : message.attachments[i], now, depth,
                                             betweenPieces, &row, &size));
      subnodes.push_back(ref);
      QUILL_RETURN_IF_ERROR(table.AddRow(attNid, row));
    }
    QUILL_ASSIGN_OR_RETURN(ltp::NodeContent content, table.Build());
    QUILL_ASSIGN_OR_RETURN(ndb::SubnodeRef ref, ltp::WriteSubnode(sink, kNidAttachmentTable, content));
    subnodes.push_back(ref);
  }
  QUILL_ASSIGN_OR_RETURN(ndb::SubnodeRef recipients, WriteRecipients(sink, message.recipients, &size));
  subnodes.push_back(recipients);

  PropertySet set;
  set.PutAll(message.props);
  std::int32_t flags = set.Int32Or(tag::kMessageFlags, 0);
  flags = attachmentCount == 0 ? (flags & ~tag::kMsgFlagHasAttach) : (flags | tag::kMsgFlagHasAttach);
  set.Put(tag::kMessageFlags, PropValue::Int32(flags));
  set.Default(tag::kMessageClass, PropValue::String(u"IPM.Note"));
  set.Default(tag::kMessageStatus, PropValue::Int32(0));
  set.Default(tag::kCreationTime, PropValue::Time(now));
  set.Default(tag::kLastModificationTime, PropValue::Time(now));
  std::vector<std::uint8_t> searchKey(16);
  for (int i = 0; i < 4; ++i) searchKey[i] = static_cast<std::uint8_t>(nid >> (8 * i));
  for (int i = 0; i < 8; ++i) searchKey[4 + i] = static_cast<std::uint8_t>(now >> (8 * i));
  set.Default(tag::kSearchKey, PropValue::Binary(std::move(searchKey)));
  set.Default(tag::kMessageSize, PropValue::Int32(ClampToInt32(size + set.ValueBytes())));

  ltp::PropertyContextBuilder pc(sink);
  QUILL_RETURN_IF_ERROR(set.CopyInto(pc));
  QUILL_ASSIGN_OR_RETURN(ltp::NodeContent content, pc.Build());
  content.subnodes.insert(content.subnodes.end(), subnodes.begin(), subnodes.end());

  BuiltMessage built;
  built.content = std::move(content);
  built.contentsRow = set.RowFor(ContentsColumns());
  built.read = (flags & tag::kMsgFlagRead) != 0;
  built.size = set.Int32Or(tag::kMessageSize, 0);
  return built;
}

}  // namespace

quill::Result<WrittenMessage> WriteMessage(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid folder,
                                           const MessageContent& message, std::uint64_t now,
                                           const BetweenPieces& betweenPieces) {
  QUILL_ASSIGN_OR_RETURN(BuiltMessage built, BuildMessage(sink, nid, message, now, 0, betweenPieces));
  QUILL_RETURN_IF_ERROR(ltp::WriteTopLevelNode(sink, nid, folder, built.content));
  WrittenMessage written;
  written.contentsRow = std::move(built.contentsRow);
  written.read = built.read;
  return written;
}

}  // namespace pst::messaging
