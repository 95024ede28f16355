#include "mime/part_data.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "common/cancel.h"
#include "mime/quoted_printable.h"

namespace mime {
namespace {

// The message bytes whose decoded parts' input may be given back (see ReleasableInput).
thread_local const char* releasable_begin = nullptr;
thread_local const char* releasable_end = nullptr;

// Parts smaller than this keep their input: the system calls would cost more than they save.
constexpr std::size_t kReleaseMinBytes = std::size_t{16} << 20;

}  // namespace

ReleasableInput::ReleasableInput(std::string_view bytes) {
  releasable_begin = bytes.data();
  releasable_end = bytes.data() + bytes.size();
}

ReleasableInput::~ReleasableInput() {
  releasable_begin = nullptr;
  releasable_end = nullptr;
}

InputRelease::InputRelease(std::string_view raw) {
  if (raw.size() >= kReleaseMinBytes && releasable_begin != nullptr && raw.data() >= releasable_begin &&
      raw.data() + raw.size() <= releasable_end) {
    released_ = raw.data();
  }
}

void InputRelease::Upto(const char* consumed) {
  if (released_ == nullptr) return;
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(released_) + page - 1) & ~(page - 1);
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(consumed) & ~(page - 1);
  if (to <= from) return;
  // Anonymous memory given back reads as zeros afterwards; nobody reads these bytes again.
  ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  released_ = reinterpret_cast<const char*>(to);
}

// Written here rather than taken from GMime because mailers strip the trailing blanks of
// uuencoded lines, and a line shorter than its length character promises must be read as if
// padded, not dropped.
std::string UuDecode(std::string_view raw) {
  size_t pos = raw.starts_with("begin ") ? 0 : raw.find("\nbegin ");
  if (pos != std::string_view::npos) {
    pos = raw.find('\n', pos + 1);
    raw.remove_prefix(pos == std::string_view::npos ? raw.size() : pos + 1);
  }
  std::string out;
  out.reserve(raw.size() * 3 / 4);
  size_t next_check = 0;
  while (!raw.empty()) {
    if (out.size() >= next_check) {
      if (quill::CancelRequested()) break;
      next_check = out.size() + kCancelCheckBytes;
    }
    size_t nl = raw.find('\n');
    std::string_view line = raw.substr(0, nl);
    raw.remove_prefix(nl == std::string_view::npos ? raw.size() : nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (line == "end") break;
    const size_t count = static_cast<size_t>((line[0] - 0x20) & 0x3F);
    if (count == 0) break;  // The zero-length line before "end".
    auto sextet = [&](size_t i) {
      return i < line.size() ? static_cast<unsigned>((line[i] - 0x20) & 0x3F) : 0u;
    };
    size_t produced = 0;
    for (size_t i = 1; produced < count; i += 4) {
      const unsigned group = sextet(i) << 18 | sextet(i + 1) << 12 | sextet(i + 2) << 6 | sextet(i + 3);
      for (int k = 2; k >= 0 && produced < count; --k, ++produced)
        out.push_back(static_cast<char>((group >> (8 * k)) & 0xFF));
    }
  }
  return out;
}

namespace {

// One table per position in a group of four, each holding the character's sextet already shifted
// to its place in the 24-bit group; characters outside the alphabet (and "=") set bit 31, so one
// OR of the four tells whether a group is clean.
struct Base64Tables {
  std::uint32_t at[4][256];
  constexpr Base64Tables() : at{} {
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int pos = 0; pos < 4; ++pos) {
      for (int c = 0; c < 256; ++c) at[pos][c] = 0x80000000u;
      for (std::size_t v = 0; v < kAlphabet.size(); ++v) {
        at[pos][static_cast<unsigned char>(kAlphabet[v])] = static_cast<std::uint32_t>(v) << (18 - 6 * pos);
      }
    }
  }
};
constexpr Base64Tables kBase64;

bool IsBase64Char(unsigned char c) { return (kBase64.at[3][c] & 0x80000000u) == 0; }

}  // namespace

std::string Base64Decode(std::string_view raw) {
  const auto* in = reinterpret_cast<const unsigned char*>(raw.data());
  const unsigned char* const end = in + raw.size();
  // The output grows a piece at a time within one allocation, so that the memory of a huge part
  // is taken as it is written (and its input given back as it is read, see InputRelease).
  std::string out;
  out.reserve(raw.size() / 4 * 3 + 16);
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  InputRelease release(raw);
  std::uint32_t group = 0;
  int have = 0;  // Sextets in `group`.
  const unsigned char* check_at = in;
  while (in < end) {
    // A stop is looked for once per kCancelCheckBytes of input, so that a huge part gives way
    // within a moment.
    if (in >= check_at) {
      if (quill::CancelRequested()) break;
      check_at = in + std::min<std::size_t>(kCancelCheckBytes, static_cast<std::size_t>(end - in));
      const auto produced = static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data()));
      out.resize(produced + static_cast<std::size_t>(check_at - in) / 4 * 3 + 6);
      o = reinterpret_cast<unsigned char*>(out.data()) + produced;
      release.Upto(reinterpret_cast<const char*>(in));
    }
    // Whole clean groups in a row, the common case: a line of 76 characters is 19 of them.
    if (have == 0) {
      while (check_at - in >= 4) {
        const std::uint32_t g =
            kBase64.at[0][in[0]] | kBase64.at[1][in[1]] | kBase64.at[2][in[2]] | kBase64.at[3][in[3]];
        if (g & 0x80000000u) break;
        o[0] = static_cast<unsigned char>(g >> 16);
        o[1] = static_cast<unsigned char>(g >> 8);
        o[2] = static_cast<unsigned char>(g);
        o += 3;
        in += 4;
      }
      if (in == end) break;
    }
    const unsigned char c = *in++;
    if (c == '=') break;  // Padding ends the data; what follows it is not decoded.
    if (!IsBase64Char(c)) continue;
    group = group << 6 | kBase64.at[3][c];
    if (++have == 4) {
      o[0] = static_cast<unsigned char>(group >> 16);
      o[1] = static_cast<unsigned char>(group >> 8);
      o[2] = static_cast<unsigned char>(group);
      o += 3;
      have = 0;
      group = 0;
    }
  }
  // A group ended by padding, or cut short, carries whole bytes: two characters hold one, three
  // hold two.
  if (have == 2) {
    *o++ = static_cast<unsigned char>(group >> 4);
  } else if (have == 3) {
    *o++ = static_cast<unsigned char>(group >> 10);
    *o++ = static_cast<unsigned char>(group >> 2);
  }
  out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
  return out;
}

std::string DecodedContent(GMimePart* part) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);  // Borrowed.
  if (wrapper == nullptr) return {};
  GMimeStream* stream = g_mime_data_wrapper_get_stream(wrapper);  // Borrowed.
  if (stream == nullptr) return {};

  // The parser keeps each part as a window on the file's bytes in memory; use that window in
  // place rather than copying it out through the stream.
  std::string_view raw;
  std::string copied;
  GByteArray* bytes = GMIME_IS_STREAM_MEM(stream) ? g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream))
                                                  : nullptr;  // Borrowed.
  if (bytes != nullptr) {
    const gint64 len = static_cast<gint64>(bytes->len);
    const gint64 begin = std::clamp<gint64>(stream->bound_start, 0, len);
    const gint64 end = stream->bound_end < 0 ? len : std::clamp<gint64>(stream->bound_end, begin, len);
    raw = std::string_view(reinterpret_cast<const char*>(bytes->data) + begin,
                           static_cast<size_t>(end - begin));
  } else {
    g_mime_stream_reset(stream);
    char buffer[65536];
    ssize_t n;
    while ((n = g_mime_stream_read(stream, buffer, sizeof(buffer))) > 0)
      copied.append(buffer, static_cast<size_t>(n));
    raw = copied;
  }

  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
  if (!copied.empty() && encoding != GMIME_CONTENT_ENCODING_BASE64 &&
      encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE && encoding != GMIME_CONTENT_ENCODING_UUENCODE) {
    return copied;
  }
  return TransferDecode(raw, encoding);
}

std::string TransferDecode(std::string_view raw, GMimeContentEncoding encoding) {
  if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE &&
      encoding != GMIME_CONTENT_ENCODING_UUENCODE) {
    return std::string(raw);
  }
  if (encoding == GMIME_CONTENT_ENCODING_UUENCODE) return UuDecode(raw);
  if (encoding == GMIME_CONTENT_ENCODING_BASE64) return Base64Decode(raw);
  return QuotedPrintableDecode(raw);
}

}  // namespace mime
