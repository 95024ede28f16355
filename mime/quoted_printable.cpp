#include "mime/quoted_printable.h"

#include <algorithm>
#include <cstring>

#include "common/cancel.h"
#include "mime/part_data.h"

namespace mime {
namespace {

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string QuotedPrintableDecode(std::string_view raw) {
  // Grown a piece at a time within one allocation (see Base64Decode).
  std::string out;
  out.reserve(raw.size() + 8);
  char* o = out.data();
  InputRelease release(raw);
  const char* in = raw.data();
  const char* const end = in + raw.size();
  const char* check_at = in;
  while (in < end) {
    if (in >= check_at) {
      if (quill::CancelRequested()) break;
      check_at = in + std::min<std::size_t>(kCancelCheckBytes, static_cast<std::size_t>(end - in));
      // A piece's output is at most its input and one escape's three bytes past its end.
      const auto produced = static_cast<std::size_t>(o - out.data());
      out.resize(produced + static_cast<std::size_t>(check_at - in) + 3);
      o = out.data() + produced;
      release.Upto(in);
    }
    // Text between escapes is copied as it stands, a run at a time (up to the piece's end).
    const void* eq = std::memchr(in, '=', static_cast<std::size_t>(check_at - in));
    const char* run_end = eq != nullptr ? static_cast<const char*>(eq) : check_at;
    std::memcpy(o, in, static_cast<std::size_t>(run_end - in));
    o += run_end - in;
    in = run_end;
    if (in == end) break;
    if (in == check_at && *in != '=') continue;
    // At "=": the two bytes after it decide. With fewer left, the escape was cut off (or was a
    // soft break at the very end): nothing of it is kept.
    if (end - in < 3) break;
    const auto c1 = static_cast<unsigned char>(in[1]);
    const auto c2 = static_cast<unsigned char>(in[2]);
    if (c1 == '\n') {
      in += 2;
    } else if (c1 == '\r' && c2 == '\n') {
      in += 3;
    } else if (HexValue(c1) >= 0 && HexValue(c2) >= 0) {
      *o++ = static_cast<char>(HexValue(c1) << 4 | HexValue(c2));
      in += 3;
    } else {
      *o++ = '=';
      *o++ = static_cast<char>(c1);
      *o++ = static_cast<char>(c2);
      in += 3;
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

}  // namespace mime
