#include "pst/ltp/node_content.h"

namespace pst::ltp {

quill::Status WriteTopLevelNode(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid parent,
                                const NodeContent& content) {
  QUILL_ASSIGN_OR_RETURN(const ndb::SubnodeRef ref, WriteSubnode(sink, nid, content));
  return sink.AddNode(nid, ref.data, ref.sub, parent);
}

quill::Result<ndb::SubnodeRef> WriteSubnode(ndb::NodeSink& sink, ndb::Nid nid, const NodeContent& content) {
  ndb::Bid sub = 0;
  if (!content.subnodes.empty()) {
    QUILL_ASSIGN_OR_RETURN(const ndb::Bid top, sink.WriteSubnodeTree(content.subnodes));
    sub = top;
  }
  return ndb::SubnodeRef{nid, content.data, sub};
}

}  // namespace pst::ltp
