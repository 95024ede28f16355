// libFuzzer target for the winmail.dat reader alone: any crash, hang, leak or sanitizer report is a
// finding, and so is a decoded stream whose output outgrows what its input can hold or whose text
// is not valid UTF-8. Seed it with the streams in tests/data/tnef.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "mime/charset.h"
#include "mime/tnef_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  quill::Result<mime::TnefContent> r = mime::ReadTnef(input);
  if (!r.ok()) return 0;
  // Decoded RTF may expand up to nine times; the rest is copied at most once per nesting level.
  size_t total = r->text_body.size() + r->html_body.size() + r->rtf_body.size();
  bool valid = mime::IsValidUtf8(r->text_body) && mime::IsValidUtf8(r->subject);
  for (const mime::Attachment& a : r->attachments) {
    total += a.data.size();
    valid = valid && mime::IsValidUtf8(a.file_name);
  }
  if (!valid) {
    std::fprintf(stderr, "text that is not UTF-8\n");
    std::abort();
  }
  if (total > size * 20 + 64) {
    std::fprintf(stderr, "%zu bytes decoded from %zu\n", total, size);
    std::abort();
  }
  return 0;
}
