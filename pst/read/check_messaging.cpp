// Messaging invariants: the store object and its entry ids, the folder tree as hierarchy tables
// and node parents give it, counts on folders, contents rows against the messages they stand for,
// and each message's recipient and attachment tables.
#include <algorithm>
#include <set>

#include "pst/folder_depth.h"
#include "pst/read/check_context.h"
#include "pst/read/messaging.h"
#include "pst/read/property_context.h"

namespace pst::read {
namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string FolderName(const Folder& f) { return "folder " + Hex(f.nid) + " " + Quote(f.name); }

// Cells the contents table repeats from the message, and the hierarchy table from the folder.
constexpr std::uint16_t kContentsMirrored[] = {prop_id::kSubject,      prop_id::kMessageFlags,
                                               prop_id::kMessageClass, prop_id::kLastModificationTime,
                                               prop_id::kDeliveryTime, prop_id::kClientSubmitTime};
// Outlook lets the size cell lag behind the message (an inline attachment rendered later), so a
// difference there is a note rather than a fault.
constexpr std::uint16_t kContentsMirroredLoosely[] = {prop_id::kMessageSize};
constexpr std::uint16_t kHierarchyMirrored[] = {prop_id::kDisplayName, prop_id::kContentCount,
                                                prop_id::kContentUnread, prop_id::kSubfolders};

void CompareMirrored(CheckContext& ctx, const std::string& where, const Properties& row,
                     const Properties& object, std::span<const std::uint16_t> ids, bool as_note = false) {
  for (std::uint16_t id : ids) {
    auto r = row.find(id);
    auto o = object.find(id);
    if (r == row.end() || o == object.end()) continue;
    if (r->second.type != o->second.type || r->second.bytes != o->second.bytes) {
      std::string what = "table cell " + Hex(id) + " is " + DescribeValue(r->second) +
                         " but the object holds " + DescribeValue(o->second);
      if (as_note) {
        ctx.Note(where, std::move(what));
      } else {
        ctx.Add(where, std::move(what));
      }
    }
  }
}

class MessagingChecker {
 public:
  explicit MessagingChecker(CheckContext& ctx) : ctx_(ctx), nodes_(ctx.file.nodes()) {
    for (const auto& [nid, n] : nodes_) {
      const std::uint8_t t = NidTypeOf(nid);
      if (t == 0x02 || t == 0x03 || t == 0x04 || t == 0x08) {
        if (nid != n.parent) children_[n.parent].insert(nid);
      }
    }
  }

  void Run() {
    CheckStoreObject();
    WalkFolder(kNidRootFolder, 0);
    for (const auto& [nid, n] : nodes_) {
      const std::uint8_t t = NidTypeOf(nid);
      if ((t == 0x02 || t == 0x03) && !visited_.count(nid)) {
        ctx_.Add("node " + Hex(nid), "folder not reachable through the hierarchy tables");
      }
    }
  }

 private:
  std::set<Nid> ChildrenOfType(Nid parent, std::initializer_list<std::uint8_t> types) const {
    std::set<Nid> out;
    auto it = children_.find(parent);
    if (it == children_.end()) return out;
    for (Nid c : it->second) {
      if (std::find(types.begin(), types.end(), NidTypeOf(c)) != types.end()) out.insert(c);
    }
    return out;
  }

  void CheckStoreObject() {
    const std::string where = "message store";
    Result<Node> node = ctx_.file.LoadNode(kNidMessageStore);
    if (!node.ok()) return;  // the mandatory-node check names it
    Result<PropertyContext> pc = ReadPropertyContext(ctx_.file, node.value());
    if (!pc.ok()) {
      ctx_.Add(where, pc.status().message());
      return;
    }
    for (const std::string& i : pc->issues) ctx_.Add(where, i);
    std::optional<std::vector<std::uint8_t>> key = GetBinary(pc->props, prop_id::kRecordKey);
    if (!key || key->size() != 16) ctx_.Add(where, "record key missing or not 16 bytes");
    if (!GetString(pc->props, prop_id::kDisplayName)) ctx_.Add(where, "display name missing");
    for (std::uint16_t id :
         {prop_id::kIpmSubtreeEntryId, prop_id::kWastebasketEntryId, prop_id::kFinderEntryId}) {
      std::optional<std::vector<std::uint8_t>> eid = GetBinary(pc->props, id);
      const std::string name = "entry id " + Hex(id);
      if (!eid) {
        ctx_.Add(where, name + " missing");
        continue;
      }
      if (eid->size() != 24) {
        ctx_.Add(where, name + " is " + std::to_string(eid->size()) + " bytes, not 24");
        continue;
      }
      if (key && key->size() == 16 && !std::equal(key->begin(), key->end(), eid->begin() + 4)) {
        ctx_.Add(where, name + " names another store");
      }
      const Nid target = Le32(*eid, 20);
      if (!nodes_.count(target) || (NidTypeOf(target) != 0x02 && NidTypeOf(target) != 0x03)) {
        ctx_.Add(where, name + " points at " + Hex(target) + ", which is no folder");
      }
    }
    Result<Node> map = ctx_.file.LoadNode(kNidNameToIdMap);
    if (map.ok()) {
      Result<PropertyContext> mpc = ReadPropertyContext(ctx_.file, map.value());
      if (!mpc.ok()) {
        ctx_.Add("name-to-id map", mpc.status().message());
      } else if (!GetInt32(mpc->props, prop_id::kNameidBucketCount)) {
        ctx_.Add("name-to-id map", "bucket count missing");
      }
    }
  }

  void WalkFolder(Nid nid, int depth) {
    if (!visited_.insert(nid).second) {
      ctx_.Add("folder " + Hex(nid), "listed twice in the folder tree");
      return;
    }
    // `depth` is in steps from the root folder, one more than the folder's level.
    if (depth > kMaxFolderDepth + 1) {
      ctx_.Add("folder " + Hex(nid), "folder tree too deep");
      return;
    }
    Result<Folder> fr = ReadFolder(ctx_.file, nid);
    if (!fr.ok()) {
      ctx_.Add("folder " + Hex(nid), fr.status().message());
      return;
    }
    const Folder& f = fr.value();
    const std::string where = FolderName(f);
    for (const std::string& i : f.issues) ctx_.Add(where, i);
    FolderSummary summary{nid, f.name, depth, 0, 0, 0};
    const std::size_t summary_at = ctx_.report.folders.size();
    ctx_.report.folders.push_back(summary);
    if (NidTypeOf(nid) != 0x02) return;  // search folders list search results, not children

    for (std::uint16_t id : {prop_id::kContentCount, prop_id::kContentUnread, prop_id::kSubfolders}) {
      if (!f.props.count(id)) ctx_.Add(where, "property " + Hex(id) + " missing");
    }
    if (nid != kNidRootFolder && !f.props.count(prop_id::kDisplayName))
      ctx_.Add(where, "display name missing");

    std::vector<Nid> subfolders;
    if (f.hierarchy) {
      std::set<Nid> rows;
      for (const TableRow& r : f.hierarchy->rows) rows.insert(r.row_id);
      CompareSets(where, "hierarchy table", rows, ChildrenOfType(nid, {0x02, 0x03}), "subfolder");
      const bool has = !f.hierarchy->rows.empty();
      if (std::optional<bool> flag = GetBool(f.props, prop_id::kSubfolders); flag && *flag != has) {
        ctx_.Add(where, std::string("subfolders flag is ") + (*flag ? "set" : "clear") +
                            " but the hierarchy table has " + std::to_string(f.hierarchy->rows.size()) +
                            " rows");
      }
      for (const TableRow& r : f.hierarchy->rows) {
        subfolders.push_back(r.row_id);
        CheckHierarchyRow(where, r);
      }
      ctx_.report.folders[summary_at].subfolders = f.hierarchy->rows.size();
    }
    if (f.contents) {
      std::set<Nid> rows;
      std::size_t unread = 0;
      for (const TableRow& r : f.contents->rows) {
        rows.insert(r.row_id);
        if (!(GetInt32(r.cells, prop_id::kMessageFlags).value_or(0) & kMessageFlagRead)) ++unread;
        CheckContentsRow(where, r);
      }
      CompareSets(where, "contents table", rows, ChildrenOfType(nid, {0x04}), "message");
      const std::size_t count = f.contents->rows.size();
      if (std::optional<std::int32_t> c = GetInt32(f.props, prop_id::kContentCount);
          c && *c != static_cast<std::int32_t>(count)) {
        ctx_.Add(where, "content count " + std::to_string(*c) + " but the contents table has " +
                            std::to_string(count) + " rows");
      }
      if (std::optional<std::int32_t> u = GetInt32(f.props, prop_id::kContentUnread);
          u && *u != static_cast<std::int32_t>(unread)) {
        ctx_.Add(where, "unread count " + std::to_string(*u) + " but the contents table has " +
                            std::to_string(unread) + " unread rows");
      }
      ctx_.report.folders[summary_at].messages = count;
    }
    if (f.assoc_contents) {
      std::set<Nid> rows;
      for (const TableRow& r : f.assoc_contents->rows) rows.insert(r.row_id);
      CompareSets(where, "associated contents table", rows, ChildrenOfType(nid, {0x08}),
                  "associated message");
      ctx_.report.folders[summary_at].assoc_messages = f.assoc_contents->rows.size();
    }
    for (Nid child : subfolders) {
      if (nodes_.count(child)) WalkFolder(child, depth + 1);
    }
  }

  void CompareSets(const std::string& where, const std::string& table, const std::set<Nid>& rows,
                   const std::set<Nid>& nodes, const std::string& what) {
    for (Nid r : rows) {
      if (!nodes.count(r)) {
        ctx_.Add(where, table + " lists " + Hex(r) + ", which is no " + what + " of this folder in the NBT");
      }
    }
    for (Nid n : nodes) {
      if (!rows.count(n))
        ctx_.Add(where, what + " " + Hex(n) + " has this folder as parent but no " + table + " row");
    }
  }

  void CheckHierarchyRow(const std::string& where, const TableRow& row) {
    if (!nodes_.count(row.row_id)) return;
    Result<Node> node = ctx_.file.LoadNode(row.row_id);
    if (!node.ok()) return;
    Result<PropertyContext> pc = ReadPropertyContext(ctx_.file, node.value());
    if (!pc.ok()) return;  // reported when the walk reaches the folder
    CompareMirrored(ctx_, where + " hierarchy row " + Hex(row.row_id), row.cells, pc->props,
                    kHierarchyMirrored);
  }

  void CheckContentsRow(const std::string& where, const TableRow& row) {
    if (!nodes_.count(row.row_id)) return;
    Result<Message> m = ReadMessage(ctx_.file, row.row_id);
    const std::string mwhere = "message " + Hex(row.row_id);
    if (!m.ok()) {
      ctx_.Add(mwhere, m.status().message());
      return;
    }
    CompareMirrored(ctx_, where + " contents row " + Hex(row.row_id), row.cells, m->props, kContentsMirrored);
    CompareMirrored(ctx_, where + " contents row " + Hex(row.row_id), row.cells, m->props,
                    kContentsMirroredLoosely, true);
    CheckMessage(mwhere, m.value());
  }

  void CheckMessage(const std::string& where, const Message& m) {
    ++ctx_.report.messages;
    for (const std::string& i : m.issues) ctx_.Add(where, i);
    for (std::uint16_t id : {prop_id::kMessageClass, prop_id::kMessageFlags, prop_id::kMessageSize,
                             prop_id::kCreationTime, prop_id::kLastModificationTime, prop_id::kSearchKey}) {
      if (!m.props.count(id)) ctx_.Add(where, "property " + Hex(id) + " missing");
    }
    CheckSubjectPrefix(where, m.props);
    if (!m.recipients) {
      ctx_.Note(where, "no recipient table");
    } else {
      ctx_.report.recipients += m.recipients->rows.size();
    }
    const bool has_table = m.attachment_table.has_value() && !m.attachment_table->rows.empty();
    if (std::optional<std::int32_t> flags = GetInt32(m.props, prop_id::kMessageFlags)) {
      const bool flagged = (*flags & kMessageFlagHasAttach) != 0;
      if (flagged != has_table) {
        ctx_.Add(where, std::string("has-attachments flag is ") + (flagged ? "set" : "clear") +
                            " but the message has " + (has_table ? "attachments" : "none"));
      }
    }
    if (m.attachment_table) {
      std::set<Nid> rows, subs(m.attachment_subnodes.begin(), m.attachment_subnodes.end());
      for (const TableRow& r : m.attachment_table->rows) rows.insert(r.row_id);
      if (rows != subs) {
        ctx_.Add(where, "attachment table has " + std::to_string(rows.size()) + " rows for " +
                            std::to_string(subs.size()) + " attachment subnodes");
      }
    }
    for (const Attachment& a : m.attachments) {
      ++ctx_.report.attachments;
      const std::string awhere = where + " attachment " + Hex(a.nid);
      for (const std::string& i : a.issues) ctx_.Add(awhere, i);
      for (std::uint16_t id : {prop_id::kAttachSize, prop_id::kAttachMethod, prop_id::kRenderingPosition}) {
        if (!a.props.count(id)) ctx_.Add(awhere, "property " + Hex(id) + " missing");
      }
      // By value, embedded and OLE attachments carry their content in the data property.
      const std::int32_t method = GetInt32(a.props, prop_id::kAttachMethod).value_or(0);
      auto data = a.props.find(prop_id::kAttachData);
      if (method == kAttachByValue && (data == a.props.end() || data->second.type != prop_type::kBinary)) {
        ctx_.Add(awhere, "attached by value but has no binary data");
      }
      if (method == kAttachEmbeddedMessage && a.embedded.empty())
        ctx_.Add(awhere, "embedded message missing");
      if (method == kAttachOle && data == a.props.end()) ctx_.Add(awhere, "OLE attachment has no data");
      for (const Message& e : a.embedded) CheckMessage(awhere + " embedded message", e);
    }
  }

  // A stored subject may open with U+0001 and a character giving the prefix length plus one; the
  // prefix must then fit in what follows.
  void CheckSubjectPrefix(const std::string& where, const Properties& props) {
    auto it = props.find(prop_id::kSubject);
    if (it == props.end() || it->second.type != prop_type::kString) return;
    const std::vector<std::uint8_t>& b = it->second.bytes;
    if (b.size() < 2 || Le16(b, 0) != 0x0001) return;
    if (b.size() < 4) {
      ctx_.Add(where, "subject marker without its length character");
      return;
    }
    const std::size_t prefix = Le16(b, 2);
    if (prefix == 0 || prefix - 1 > (b.size() - 4) / 2)
      ctx_.Add(where, "subject prefix length exceeds the subject");
  }

  CheckContext& ctx_;
  const std::map<Nid, NodeEntry>& nodes_;
  std::map<Nid, std::set<Nid>> children_;
  std::set<Nid> visited_;
};

}  // namespace

void CheckMessaging(CheckContext& ctx) { MessagingChecker(ctx).Run(); }

}  // namespace pst::read
