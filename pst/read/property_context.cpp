#include "pst/read/property_context.h"

namespace pst::read {

Result<std::vector<std::uint8_t>> ReadHnid(const PstFile& file, const Node& node, const Heap& heap,
                                           std::uint32_t hnid) {
  if (hnid == 0) return std::vector<std::uint8_t>{};
  if ((hnid & 0x1F) == 0) {
    QUILL_ASSIGN_OR_RETURN(const std::span<const std::uint8_t> a, heap.Get(hnid));
    return std::vector<std::uint8_t>(a.begin(), a.end());
  }
  auto it = node.subnodes.find(hnid);
  if (it == node.subnodes.end()) return Status::NotFound("value subnode " + Hex(hnid) + " missing");
  return file.ReadStream(it->second.data);
}

Result<PropertyContext> ReadPropertyContext(const PstFile& file, const Node& node) {
  QUILL_ASSIGN_OR_RETURN(const Heap heap, Heap::Parse(node.blocks));
  if (heap.client_signature() != kClientProperties) {
    return Status::Corruption("node " + Hex(node.nid) + " is not a property context");
  }
  QUILL_ASSIGN_OR_RETURN(const BthInfo bth, ReadBth(heap, heap.user_root()));
  if (bth.key_size != 2 || bth.data_size != 6) {
    return Status::Corruption("property context BTH has key/data sizes " + std::to_string(bth.key_size) +
                              "/" + std::to_string(bth.data_size));
  }
  PropertyContext pc;
  for (const BthRecord& r : bth.records) {
    const std::uint16_t id = static_cast<std::uint16_t>(r.key);
    PropValue v;
    v.type = Le16(r.data, 0);
    const std::uint32_t raw = Le32(r.data, 2);
    const std::string name = "property " + Hex((std::uint32_t{id} << 16) | v.type);
    const int fixed = FixedSizeOf(v.type);
    if (fixed < 0) {
      pc.issues.push_back(name + ": unknown type");
      continue;
    }
    if ((v.type & prop_type::kMultiple) == 0 && fixed > 0 && fixed <= 4) {
      for (int k = 0; k < fixed; ++k) v.bytes.push_back(static_cast<std::uint8_t>(raw >> (8 * k)));
    } else {
      if ((v.type & prop_type::kMultiple) == 0 && fixed > 4 && (raw & 0x1F) != 0) {
        pc.issues.push_back(name + ": fixed-size value not in the heap");
        continue;
      }
      Result<std::vector<std::uint8_t>> bytes = ReadHnid(file, node, heap, raw);
      if (!bytes.ok()) {
        pc.issues.push_back(name + ": " + bytes.status().message());
        continue;
      }
      v.bytes = std::move(bytes).value();
    }
    if (Status s = ValidateValue(v); !s.ok()) pc.issues.push_back(name + ": " + s.message());
    pc.props[id] = std::move(v);
  }
  return pc;
}

}  // namespace pst::read
