#include "pst/read/messaging.h"

#include "pst/read/property_context.h"

namespace pst::read {
namespace {

// Nesting deeper than this is a forged loop, not mail anyone wrote.
constexpr int kMaxEmbedding = 16;

std::optional<TableContext> ReadTableNode(const PstFile& file, Result<Node> node, const std::string& what,
                                          std::vector<std::string>* issues) {
  if (!node.ok()) {
    issues->push_back(what + ": " + node.status().message());
    return std::nullopt;
  }
  Result<TableContext> tc = ReadTableContext(file, node.value());
  if (!tc.ok()) {
    issues->push_back(what + ": " + tc.status().message());
    return std::nullopt;
  }
  for (const std::string& i : tc->issues) issues->push_back(what + ": " + i);
  return std::move(tc).value();
}

}  // namespace

Result<Folder> ReadFolder(const PstFile& file, Nid nid) {
  QUILL_ASSIGN_OR_RETURN(const Node node, file.LoadNode(nid));
  QUILL_ASSIGN_OR_RETURN(PropertyContext pc, ReadPropertyContext(file, node));
  Folder f;
  f.nid = nid;
  f.props = std::move(pc.props);
  f.issues = std::move(pc.issues);
  f.name = GetString(f.props, prop_id::kDisplayName).value_or("");
  const Nid base = nid & ~Nid{0x1F};
  if (NidTypeOf(nid) == 0x02) {
    f.hierarchy = ReadTableNode(file, file.LoadNode(base | 0x0D), "hierarchy table", &f.issues);
    f.contents = ReadTableNode(file, file.LoadNode(base | 0x0E), "contents table", &f.issues);
    f.assoc_contents =
        ReadTableNode(file, file.LoadNode(base | 0x0F), "associated contents table", &f.issues);
  }
  return f;
}

Result<Message> ReadMessage(const PstFile& file, Nid nid) {
  QUILL_ASSIGN_OR_RETURN(const Node node, file.LoadNode(nid));
  return ReadMessageNode(file, node, 0);
}

Result<Message> ReadMessageNode(const PstFile& file, const Node& node, int depth) {
  if (depth > kMaxEmbedding) return Status::Corruption("messages embedded too deeply");
  QUILL_ASSIGN_OR_RETURN(PropertyContext pc, ReadPropertyContext(file, node));
  Message m;
  m.nid = node.nid;
  m.props = std::move(pc.props);
  m.issues = std::move(pc.issues);
  if (node.subnodes.count(kNidRecipientTable)) {
    m.recipients =
        ReadTableNode(file, file.LoadSubnode(node, kNidRecipientTable), "recipient table", &m.issues);
  }
  for (const auto& [sub_nid, entry] : node.subnodes) {
    if (NidTypeOf(sub_nid) == 0x05) m.attachment_subnodes.push_back(sub_nid);
  }
  if (!node.subnodes.count(kNidAttachmentTable)) return m;
  m.attachment_table =
      ReadTableNode(file, file.LoadSubnode(node, kNidAttachmentTable), "attachment table", &m.issues);
  if (!m.attachment_table) return m;
  for (const TableRow& row : m.attachment_table->rows) {
    const std::string what = "attachment " + Hex(row.row_id);
    Result<Node> an = file.LoadSubnode(node, row.row_id);
    if (!an.ok()) {
      m.issues.push_back(what + ": " + an.status().message());
      continue;
    }
    Result<PropertyContext> apc = ReadPropertyContext(file, an.value());
    if (!apc.ok()) {
      m.issues.push_back(what + ": " + apc.status().message());
      continue;
    }
    Attachment a;
    a.nid = row.row_id;
    a.props = std::move(apc->props);
    a.issues = std::move(apc->issues);
    auto data = a.props.find(prop_id::kAttachData);
    if (GetInt32(a.props, prop_id::kAttachMethod).value_or(0) == kAttachEmbeddedMessage &&
        data != a.props.end() && data->second.type == prop_type::kObject) {
      if (data->second.bytes.size() != 8) {
        a.issues.push_back("embedded message reference is not 8 bytes");
      } else {
        const Nid inner = Le32(data->second.bytes, 0);
        Result<Node> en = file.LoadSubnode(an.value(), inner);
        Result<Message> em =
            en.ok() ? ReadMessageNode(file, en.value(), depth + 1) : Result<Message>(en.status());
        if (em.ok()) {
          a.embedded.push_back(std::move(em).value());
        } else {
          a.issues.push_back("embedded message: " + em.status().message());
        }
      }
    }
    m.attachments.push_back(std::move(a));
  }
  return m;
}

}  // namespace pst::read
