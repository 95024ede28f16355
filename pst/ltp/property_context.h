// PropertyContextBuilder: the properties of one object (store, folder, message, attachment) as a
// heap whose user root is a BTree-on-heap of 8-byte records keyed by property id:
//
//   wPropId (2) | wPropType (2) | dwValueHnid (4)
//
// dwValueHnid holds values of up to 4 bytes itself; anything else lives in a heap allocation or,
// past kMaxHeapItem bytes, in a subnode of type LTP whose data tree holds the value. An empty
// variable-size value is stored as HNID 0, as Outlook does.
//
// Values are kept in memory until Build; a large value that already sits in a file stream (an
// attachment read block by block) can be handed over as written data with SetWritten instead.
#pragma once

#include <cstdint>
#include <map>
#include <variant>

#include "common/status.h"
#include "pst/ltp/node_content.h"
#include "pst/ltp/property_value.h"
#include "pst/ndb/node_sink.h"

namespace pst::ltp {

class PropertyContextBuilder {
 public:
  explicit PropertyContextBuilder(ndb::NodeSink& sink) : sink_(&sink) {}

  PropertyContextBuilder(const PropertyContextBuilder&) = delete;
  PropertyContextBuilder& operator=(const PropertyContextBuilder&) = delete;

  // Sets the property with the id of `tag`, replacing any earlier value of that id.
  // Errors: InvalidArgument when the tag's type differs from the value's or is unknown.
  quill::Status Set(PropTag tag, PropValue value);

  // Set without a copy, for values that are already kept elsewhere (a message's list of
  // properties): `value` must stay alive and unchanged until Build.
  quill::Status SetBorrowed(PropTag tag, const PropValue& value);

  // Sets a variable-size property to a stream already written through the sink (StreamWriter),
  // `data` being the top of its data tree and `size` its length. The value becomes a subnode.
  // Errors: InvalidArgument for a fixed-size type or for data 0 with a non-zero size.
  quill::Status SetWritten(PropTag tag, ndb::Bid data, std::uint32_t size);

  bool Has(std::uint16_t propId) const { return props_.count(propId) != 0; }
  std::size_t size() const { return props_.size(); }

  // Lays out and writes the heap (and the subnodes of large values).
  // REQUIRES: called once.
  quill::Result<NodeContent> Build();

  // Build, then enter the result as top-level node `nid` under `parent`.
  quill::Status WriteTopLevel(ndb::Nid nid, ndb::Nid parent);

 private:
  struct Written {
    ndb::Bid data;
    std::uint32_t size;
  };
  struct Entry {
    PropType type;
    std::variant<PropValue, const PropValue*, Written> value;
  };

  ndb::NodeSink* sink_;
  std::map<std::uint16_t, Entry> props_;
};

}  // namespace pst::ltp
