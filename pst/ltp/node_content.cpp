#include "pst/ltp/node_content.h"

namespace pst::ltp {

quill::Status WriteTopLevelNode(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid parent, const NodeContent& content) {
  quill::Result<ndb::SubnodeRef> ref = WriteSubnode(sink, nid, content);
  if (!ref.ok()) return ref.status();
  return sink.AddNode(nid, ref->data, ref->sub, parent);
}

quill::Result<ndb::SubnodeRef> WriteSubnode(ndb::NodeSink& sink, ndb::Nid nid, const NodeContent& content) {
  ndb::Bid sub = 0;
  if (!content.subnodes.empty()) {
    quill::Result<ndb::Bid> top = sink.WriteSubnodeTree(content.subnodes);
    if (!top.ok()) return top.status();
    sub = *top;
  }
  return ndb::SubnodeRef{nid, content.data, sub};
}

}  // namespace pst::ltp
