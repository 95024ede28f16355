#include "mime/part_data.h"

#include <algorithm>

namespace mime {

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
  while (!raw.empty()) {
    size_t nl = raw.find('\n');
    std::string_view line = raw.substr(0, nl);
    raw.remove_prefix(nl == std::string_view::npos ? raw.size() : nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (line == "end") break;
    const size_t count = static_cast<size_t>((line[0] - 0x20) & 0x3F);
    if (count == 0) break;  // The zero-length line before "end".
    auto sextet = [&](size_t i) { return i < line.size() ? static_cast<unsigned>((line[i] - 0x20) & 0x3F) : 0u; };
    size_t produced = 0;
    for (size_t i = 1; produced < count; i += 4) {
      const unsigned group = sextet(i) << 18 | sextet(i + 1) << 12 | sextet(i + 2) << 6 | sextet(i + 3);
      for (int k = 2; k >= 0 && produced < count; --k, ++produced) out.push_back(static_cast<char>((group >> (8 * k)) & 0xFF));
    }
  }
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
    raw = std::string_view(reinterpret_cast<const char*>(bytes->data) + begin, static_cast<size_t>(end - begin));
  } else {
    g_mime_stream_reset(stream);
    char buffer[65536];
    ssize_t n;
    while ((n = g_mime_stream_read(stream, buffer, sizeof(buffer))) > 0) copied.append(buffer, static_cast<size_t>(n));
    raw = copied;
  }

  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
  if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE &&
      encoding != GMIME_CONTENT_ENCODING_UUENCODE) {
    return copied.empty() ? std::string(raw) : std::move(copied);
  }
  if (encoding == GMIME_CONTENT_ENCODING_UUENCODE) return UuDecode(raw);
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, encoding);
  std::string out;
  out.resize(g_mime_encoding_outlen(&state, raw.size()));
  out.resize(g_mime_encoding_step(&state, raw.data(), raw.size(), out.data()));

  // Base64 cut short (a truncated file, or a sender that dropped the padding) leaves two or three
  // characters that GMime holds back waiting for a full group; they still carry whole bytes.
  if (encoding == GMIME_CONTENT_ENCODING_BASE64 && state.state >= 2 && state.state <= 3) {
    const guint32 bits = state.save;
    if (state.state == 2) {
      out.push_back(static_cast<char>((bits >> 4) & 0xFF));
    } else {
      out.push_back(static_cast<char>((bits >> 10) & 0xFF));
      out.push_back(static_cast<char>((bits >> 2) & 0xFF));
    }
  }
  return out;
}

}  // namespace mime
