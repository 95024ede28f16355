// NodeContent: what a property or table context builds, before it is entered anywhere.
//
// The owner may add its own subnodes (a message adds its recipient and attachment tables) before
// the subnode tree is written, then enter the result as a top-level node or as a subnode.
#pragma once

#include <vector>

#include "common/status.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp {

struct NodeContent {
  ndb::Bid data = 0;
  std::vector<ndb::SubnodeRef> subnodes;  // values and row matrices kept outside the heap
};

// Writes the subnode tree of `content` and enters it in the node B-tree as `nid` under `parent`.
quill::Status WriteTopLevelNode(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid parent,
                                const NodeContent& content);

// Writes the subnode tree of `content` and returns the entry that makes it subnode `nid` of
// another node.
quill::Result<ndb::SubnodeRef> WriteSubnode(ndb::NodeSink& sink, ndb::Nid nid, const NodeContent& content);

}  // namespace pst::ltp
