// NameMap: the store's named properties (a GUID plus a number or a name) and the property ids
// 0x8000 + n they are given, written as the name-to-id map node.
//
//   PidTagNameidBucketCount   251
//   PidTagNameidStreamGuid    GUIDs other than PS_MAPI and PS_PUBLIC_STRINGS, 16 bytes each
//   PidTagNameidStreamEntry   8 bytes per name: number or string offset | N bit, GUID index, n
//   PidTagNameidStreamString  per string name: byte length (4), UTF-16LE, padded to 4 bytes
//   0x1000 + bucket           hash records {number or CRC of the name, second dword}
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/status.h"
#include "pst/ltp/property_value.h"
#include "pst/ndb/node_sink.h"

namespace pst::messaging {

inline constexpr ndb::Nid kNidNameToIdMap = 0x61;
inline constexpr std::uint32_t kNameMapBuckets = 251;

// {00020328-0000-0000-C000-000000000046} and {00020329-0000-0000-C000-000000000046}.
extern const ltp::Guid kPsMapi;
extern const ltp::Guid kPsPublicStrings;

class NameMap {
 public:
  // The property id of the named property, assigning the next free one on first use.
  // Errors: NotSupported when all 0x7FFF ids are taken.
  quill::Result<std::uint16_t> IdFor(const ltp::Guid& guid, std::uint32_t number);
  quill::Result<std::uint16_t> IdFor(const ltp::Guid& guid, std::u16string_view name);

  std::size_t size() const { return entries_.size(); }

  // Writes the map as node 0x61.
  quill::Status Write(ndb::NodeSink& sink) const;

 private:
  struct Entry {
    std::uint16_t guidIndex;  // 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, 3 + n: n-th GUID of the stream
    bool isString;
    std::uint32_t number;   // the number, or the name's offset in the string stream
    std::uint32_t hashKey;  // the number, or the CRC of the name
  };

  std::uint16_t GuidIndex(const ltp::Guid& guid);
  quill::Result<std::uint16_t> Add(Entry entry);

  std::vector<ltp::Guid> guids_;
  std::vector<Entry> entries_;
  std::vector<std::uint8_t> strings_;
  std::map<std::tuple<std::uint16_t, bool, std::uint32_t>, std::uint16_t> byKey_;
  std::map<std::pair<std::uint16_t, std::u16string>, std::uint16_t> byName_;
};

}  // namespace pst::messaging
