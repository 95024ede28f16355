#include "pst/messaging/name_map.h"

#include <algorithm>

#include "pst/ltp/property_context.h"
#include "pst/messaging/prop_tags.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/le_bytes.h"

namespace pst::messaging {
namespace {

constexpr std::uint16_t kFirstNamedId = 0x8000;
constexpr std::size_t kMaxNamed = 0x7FFF;

}  // namespace

const ltp::Guid kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const ltp::Guid kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::uint16_t NameMap::GuidIndex(const ltp::Guid& guid) {
  if (guid == kPsMapi) return 1;
  if (guid == kPsPublicStrings) return 2;
  auto it = std::find(guids_.begin(), guids_.end(), guid);
  if (it == guids_.end()) {
    guids_.push_back(guid);
    it = guids_.end() - 1;
  }
  return static_cast<std::uint16_t>(3 + (it - guids_.begin()));
}

quill::Result<std::uint16_t> NameMap::Add(Entry entry) {
  if (entries_.size() >= kMaxNamed) return quill::Status::NotSupported("no named property ids left");
  entries_.push_back(entry);
  return static_cast<std::uint16_t>(kFirstNamedId + entries_.size() - 1);
}

quill::Result<std::uint16_t> NameMap::IdFor(const ltp::Guid& guid, std::uint32_t number) {
  const std::uint16_t g = GuidIndex(guid);
  const auto key = std::make_tuple(g, false, number);
  if (auto it = byKey_.find(key); it != byKey_.end()) return it->second;
  quill::Result<std::uint16_t> id = Add(Entry{g, false, number, number});
  if (id.ok()) byKey_[key] = *id;
  return id;
}

quill::Result<std::uint16_t> NameMap::IdFor(const ltp::Guid& guid, std::u16string_view name) {
  const std::uint16_t g = GuidIndex(guid);
  const auto key = std::make_pair(g, std::u16string(name));
  if (auto it = byName_.find(key); it != byName_.end()) return it->second;
  std::vector<std::uint8_t> utf16;
  for (char16_t c : name) {
    utf16.push_back(static_cast<std::uint8_t>(c & 0xFF));
    utf16.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  const std::uint32_t offset = static_cast<std::uint32_t>(strings_.size());
  quill::Result<std::uint16_t> id = Add(Entry{g, true, offset, ndb::ComputeCrc(utf16)});
  if (!id.ok()) return id;
  ndb::AppendLe(strings_, static_cast<std::uint32_t>(utf16.size()), 4);
  strings_.insert(strings_.end(), utf16.begin(), utf16.end());
  while (strings_.size() % 4 != 0) strings_.push_back(0);
  byName_[key] = *id;
  return id;
}

quill::Status NameMap::Write(ndb::NodeSink& sink) const {
  std::vector<std::uint8_t> guidStream, entryStream;
  for (const ltp::Guid& g : guids_) guidStream.insert(guidStream.end(), g.begin(), g.end());
  std::vector<std::vector<std::uint8_t>> buckets(kNameMapBuckets);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const std::uint32_t second = (static_cast<std::uint32_t>(i) << 16) |
                                 (static_cast<std::uint32_t>(e.guidIndex) << 1) | (e.isString ? 1u : 0u);
    ndb::AppendLe(entryStream, e.number, 4);
    ndb::AppendLe(entryStream, second, 4);
    std::vector<std::uint8_t>& bucket = buckets[(e.hashKey ^ (second & 0xFFFF)) % kNameMapBuckets];
    ndb::AppendLe(bucket, e.hashKey, 4);
    ndb::AppendLe(bucket, second, 4);
  }

  ltp::PropertyContextBuilder pc(sink);
  QUILL_RETURN_IF_ERROR(pc.Set(tag::kNameidBucketCount, ltp::PropValue::Int32(kNameMapBuckets)));
  QUILL_RETURN_IF_ERROR(pc.Set(tag::kNameidStreamGuid, ltp::PropValue::Binary(guidStream)));
  QUILL_RETURN_IF_ERROR(pc.Set(tag::kNameidStreamEntry, ltp::PropValue::Binary(entryStream)));
  QUILL_RETURN_IF_ERROR(pc.Set(tag::kNameidStreamString, ltp::PropValue::Binary(strings_)));
  for (std::uint32_t b = 0; b < kNameMapBuckets; ++b) {
    if (buckets[b].empty()) continue;
    QUILL_RETURN_IF_ERROR(pc.Set(ltp::MakeTag(static_cast<std::uint16_t>(0x1000 + b), ltp::PropType::kBinary),
                                 ltp::PropValue::Binary(buckets[b])));
  }
  return pc.WriteTopLevel(kNidNameToIdMap, 0);
}

}  // namespace pst::messaging
