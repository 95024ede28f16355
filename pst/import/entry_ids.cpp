#include "pst/import/entry_ids.h"

#include "common/text.h"
#include "pst/ndb/le_bytes.h"

namespace pst::import {
namespace {

constexpr std::uint8_t kOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                         0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
constexpr std::uint16_t kOneOffUnicodeNoRichInfo = 0x8001;

// UTF-16LE with a terminating NUL. An embedded NUL would end the field early for every reader and
// shift the fields after it, so it is left out.
void PutTerminatedUtf16(std::vector<std::uint8_t>* out, std::string_view utf8) {
  for (char16_t c : quill::Utf8ToUtf16(utf8)) {
    if (c == 0) continue;
    out->push_back(static_cast<std::uint8_t>(c & 0xFF));
    out->push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

}  // namespace

std::vector<std::uint8_t> OneOffEntryId(std::string_view name, std::string_view addressType,
                                        std::string_view address) {
  std::vector<std::uint8_t> id;
  id.reserve(24 + 2 * (name.size() + addressType.size() + address.size() + 3));
  id.assign(4, 0);
  for (std::uint8_t b : kOneOffUid) id.push_back(b);
  id.push_back(0);
  id.push_back(0);
  id.push_back(static_cast<std::uint8_t>(kOneOffUnicodeNoRichInfo & 0xFF));
  id.push_back(static_cast<std::uint8_t>(kOneOffUnicodeNoRichInfo >> 8));
  PutTerminatedUtf16(&id, name);
  PutTerminatedUtf16(&id, addressType);
  PutTerminatedUtf16(&id, address);
  return id;
}

std::vector<std::uint8_t> SmtpSearchKey(std::string_view address) {
  std::vector<std::uint8_t> key = {'S', 'M', 'T', 'P', ':'};
  for (char c : address) {
    if (c == '\0') continue;
    key.push_back(static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  }
  key.push_back(0);
  return key;
}

std::vector<std::uint8_t> FlatEntryList(const std::vector<std::vector<std::uint8_t>>& entryIds) {
  std::vector<std::uint8_t> body;
  for (const std::vector<std::uint8_t>& id : entryIds) {
    ndb::AppendLe(body, static_cast<std::uint32_t>(id.size()), 4);
    body.insert(body.end(), id.begin(), id.end());
    while (body.size() % 4 != 0) body.push_back(0);
  }
  std::vector<std::uint8_t> list;
  ndb::AppendLe(list, static_cast<std::uint32_t>(entryIds.size()), 4);
  ndb::AppendLe(list, static_cast<std::uint32_t>(body.size()), 4);
  list.insert(list.end(), body.begin(), body.end());
  return list;
}

}  // namespace pst::import
