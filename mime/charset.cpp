#include "mime/charset.h"

#include <errno.h>
#include <gmime/gmime.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/cancel.h"
#include "common/text.h"
#include "mime/gmime_support.h"
#include "mime/part_data.h"
#include "mime/strings.h"

namespace mime {
namespace {

// windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined map to the C1
// control of the same value, as web browsers do, so that no byte is lost.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

char32_t Windows1252Char(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kWindows1252High[b - 0x80];
  return b;
}

// Where the run of ASCII bytes starting at s[i] ends.
size_t AsciiRunEnd(std::string_view s, size_t i) {
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // Allowed range of the second byte.
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // No surrogates.
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  const auto b1 = static_cast<unsigned char>(s[i + 1]);
  if (b1 < lo || b1 > hi) return 0;
  for (size_t k = 2; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return len;
}

bool IsLatin1Name(std::string_view n) {
  return n == "iso-8859-1" || n == "iso8859-1" || n == "latin1" || n == "latin-1" || n == "l1" ||
         n == "iso_8859-1" || n == "windows-1252" || n == "cp1252" || n == "x-cp1252" || n == "iso-ir-100" ||
         n == "cp819" || n == "ibm819";
}

bool IsAsciiOrUtf8Name(std::string_view n) {
  return n.empty() || n == "us-ascii" || n == "ascii" || n == "ansi_x3.4-1968" || n == "us" || n == "utf-8" ||
         n == "utf8" || n == "unicode-1-1-utf-8" || n == "x-unknown" || n == "unknown" || n == "default" ||
         n == "unknown-8bit" || n == "x-user-defined";
}

// Mail labels text with the name of a standard charset but writes it with the Windows code page
// that extends it (a Japanese NEC symbol in "Shift_JIS", a GBK character in "GB2312"). Reading it
// with the superset loses nothing when the label was honest.
const char* SupersetOf(const std::string& name) {
  static constexpr std::pair<std::string_view, const char*> kSupersets[] = {
      {"gb2312", "GB18030"},          {"gbk", "GB18030"},   {"x-gbk", "GB18030"},
      {"euc-cn", "GB18030"},          {"cp936", "GB18030"}, {"shift_jis", "CP932"},
      {"shift-jis", "CP932"},         {"sjis", "CP932"},    {"x-sjis", "CP932"},
      {"ms_kanji", "CP932"},          {"euc-kr", "CP949"},  {"ks_c_5601-1987", "CP949"},
      {"iso-8859-8-i", "ISO-8859-8"}, {"tis-620", "CP874"}, {"big5", "BIG5-HKSCS"},
  };
  for (const auto& [label, superset] : kSupersets) {
    if (name == label) return superset;
  }
  return name.c_str();
}

// Labels of ISO-2022-JP and of Microsoft's supersets of it. Japanese Windows mail labelled
// ISO-2022-JP is written in the superset (NEC row 13 such as "①" and "№", the IBM extensions,
// half-width katakana), which glibc's ISO-2022-JP rejects and which glibc has no converter for.
bool IsIso2022JpName(const std::string& name) {
  return name == "iso-2022-jp" || name == "csiso2022jp" || name == "cp50220" || name == "cp50221" ||
         name == "cp50222" || name == "iso-2022-jp-ms";
}

// A byte that CP932 has no character for: iconv marks it as a bad sequence.
constexpr char kNotCp932 = '\x80';

// ISO-2022-JP as Windows reads it (code pages 50220-50222) turned into CP932 bytes, whose
// double-byte set is the same JIS X 0208 with the same extensions; nullopt when it switches to a
// set CP932 lacks (JIS X 0212, ISO-2022-JP-2's others).
std::optional<std::string> Iso2022JpAsCp932(std::string_view bytes) {
  enum class Set { kAscii, kJis0208, kKatakana };
  Set set = Set::kAscii;
  bool shifted_out = false;  // SO ... SI: half-width katakana (code page 50222).
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 0x1B) {
      const std::string_view esc = bytes.substr(i + 1, 3);
      if (esc.starts_with("(B") || esc.starts_with("(J") || esc.starts_with("(H")) {
        set = Set::kAscii;
      } else if (esc.starts_with("$B") || esc.starts_with("$@") || esc.starts_with("$(B") ||
                 esc.starts_with("$(@")) {
        set = Set::kJis0208;
        if (esc[1] == '(') ++i;
      } else if (esc.starts_with("(I")) {
        set = Set::kKatakana;
      } else {
        return std::nullopt;
      }
      i += 3;
      continue;
    }
    if (c == 0x0E || c == 0x0F) {
      shifted_out = c == 0x0E;
      ++i;
      continue;
    }
    if (c == '\r' || c == '\n') {  // A line break ends no run, but is no character of one.
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      // Eight-bit half-width katakana are the same bytes in CP932.
      out += c >= 0xA1 && c <= 0xDF ? static_cast<char>(c) : kNotCp932;
      ++i;
      continue;
    }
    if (shifted_out || set == Set::kKatakana) {
      out += c >= 0x21 && c <= 0x5F ? static_cast<char>(c + 0x80) : static_cast<char>(c);
      ++i;
      continue;
    }
    if (set == Set::kAscii || c < 0x21 || c > 0x7E) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A JIS X 0208 row and cell (0x21-0x7E each) in Shift_JIS arithmetic.
    if (i + 1 >= bytes.size()) {
      out += '\x81';  // A lead byte cut off: iconv marks the cut sequence.
      break;
    }
    const auto c2 = static_cast<unsigned char>(bytes[i + 1]);
    if (c2 < 0x21 || c2 > 0x7E) {
      out += kNotCp932;
      ++i;
      continue;
    }
    const unsigned lead = ((c + 1u) >> 1) + (c <= 0x5E ? 0x70u : 0xB0u);
    const unsigned trail = (c & 1u) ? c2 + (c2 >= 0x60 ? 0x20u : 0x1Fu) : c2 + 0x7Eu;
    out += static_cast<char>(lead);
    out += static_cast<char>(trail);
    i += 2;
  }
  return out;
}

std::string ConvertWithIconv(std::string_view bytes, const char* charset);

// Text that switches to a set CP932 lacks is read by ISO-2022-JP-2, which knows those sets.
std::string Iso2022JpToUtf8(std::string_view bytes) {
  if (const std::optional<std::string> cp932 = Iso2022JpAsCp932(bytes))
    return ConvertWithIconv(*cp932, "CP932");
  return ConvertWithIconv(bytes, "ISO-2022-JP-2");
}

// Converters to UTF-8 kept open, per thread (a converter is not to be shared). Opening one loads
// the charset's module, and glibc unloads it when the last converter of it closes: opening one
// per text cost a dlopen and an munmap per message.
class ConverterCache {
 public:
  ~ConverterCache() {
    for (auto& [name, cd] : open_) {
      if (cd != kFailed) g_mime_iconv_close(cd);
    }
  }
  // A converter from `charset` in its initial state, or kFailed. Owned by the cache.
  iconv_t Get(const char* charset) {
    for (auto& [name, cd] : open_) {
      if (name != charset) continue;
      if (cd != kFailed) iconv(cd, nullptr, nullptr, nullptr, nullptr);
      return cd;
    }
    if (open_.size() == kMaxOpen) {
      if (open_.front().second != kFailed) g_mime_iconv_close(open_.front().second);
      open_.erase(open_.begin());
    }
    open_.emplace_back(charset, g_mime_iconv_open("UTF-8", charset));
    return open_.back().second;
  }

  static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

 private:
  static constexpr std::size_t kMaxOpen = 16;
  std::vector<std::pair<std::string, iconv_t>> open_;
};

ConverterCache& Converters() {
  thread_local ConverterCache converters;
  return converters;
}

// Converts with the iconv converter for `charset` (an iconv name), marking each sequence it rejects
// with U+FFFD. Text in a charset iconv does not know is read as undeclared text.
std::string ConvertWithIconv(std::string_view bytes, const char* charset) {
  iconv_t cd = Converters().Get(charset);
  if (cd == ConverterCache::kFailed) return Utf8OrWindows1252ToUtf8(bytes);

  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());  // iconv's prototype is not const-correct.
  size_t in_left = bytes.size();
  size_t used = 0;
  bool flushed = false;
  while (true) {
    char* dst = out.data() + used;
    size_t dst_left = out.size() - used;
    // Fed a piece at a time, so that a stop request is seen within a moment on a huge body. A
    // sequence cut by a piece's end is completed by the next piece, not marked.
    if (quill::CancelRequested()) break;
    size_t piece_left = std::min(in_left, kCancelCheckBytes);
    const bool last_piece = piece_left == in_left;
    const size_t piece = piece_left;
    // A null input pointer asks a stateful decoder (ISO-2022-JP) to return to its initial state.
    const size_t rc = in_left > 0 ? iconv(cd, &in, &piece_left, &dst, &dst_left)
                                  : iconv(cd, nullptr, nullptr, &dst, &dst_left);
    const int err = errno;
    if (in_left > 0) in_left -= piece - piece_left;
    used = out.size() - dst_left;
    if (rc != static_cast<size_t>(-1)) {
      if (in_left == 0) {
        if (flushed) break;
        flushed = true;
      }
      continue;
    }
    if (err == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (err == EINVAL && !last_piece) continue;  // Cut by the piece, not by the text's end.
    // An invalid sequence (EILSEQ) or one cut off by the end of the text (EINVAL): mark it and
    // carry on after its first byte.
    out.resize(std::max(out.size(), used + kReplacement.size() + 16));
    out.replace(used, kReplacement.size(), kReplacement);
    used += kReplacement.size();
    if (in_left == 0) break;
    ++in;
    --in_left;
    if (err == EINVAL && in_left == 0) break;
  }
  out.resize(used);
  // A few iconv modules pass malformed input through; the caller is promised valid UTF-8.
  if (!IsValidUtf8(out)) return Utf8OrWindows1252ToUtf8(out);
  return out;
}

// Charsets of one byte per character and no shift state, for which a table of what each byte
// becomes can stand in for iconv. The probe in MakeByteTable would reject most others anyway; the
// list keeps it from being trusted with a multi-byte or stateful charset it might misjudge.
bool IsSingleByteFamily(std::string_view n) {
  for (std::string_view prefix :
       {"iso-8859-", "iso8859-", "iso_8859-", "windows-125", "cp125", "x-cp125", "koi8-"}) {
    if (n.starts_with(prefix)) return true;
  }
  return n == "windows-874" || n == "cp874" || n == "tis-620" || n == "ibm866" || n == "cp866" ||
         n == "macintosh";
}

// What each byte of a single-byte charset becomes in UTF-8: exactly what ConvertWithIconv writes
// for it, U+FFFD included for a byte the charset leaves undefined. Every entry is valid UTF-8, so
// whatever is built from them is too.
struct ByteTable {
  std::array<std::array<char, 8>, 256> utf8;
  std::array<std::uint8_t, 256> size;
  bool ascii_is_ascii;  // Bytes below 0x80 stand for themselves, so runs of them can be copied.

  std::string Convert(std::string_view bytes) const {
    size_t total = 0;
    for (char c : bytes) total += size[static_cast<unsigned char>(c)];
    // Sized once, exactly: a body of megabytes gets no doubled buffer.
    std::string out(total, '\0');
    char* dst = out.data();
    char* const end = dst + total;
    for (size_t i = 0; i < bytes.size();) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (b < 0x80 && ascii_is_ascii) {
        const size_t run_end = AsciiRunEnd(bytes, i);
        std::memcpy(dst, bytes.data() + i, run_end - i);
        dst += run_end - i;
        i = run_end;
        continue;
      }
      // A whole entry is one fixed-size store; only near the end must the copy stop at its size.
      if (end - dst >= 8) {
        std::memcpy(dst, utf8[b].data(), 8);
      } else {
        std::memcpy(dst, utf8[b].data(), size[b]);
      }
      dst += size[b];
      ++i;
    }
    return out;
  }
};

// Asks iconv what each byte becomes on its own. The table is only built when that is the whole
// story: every byte is a character (or undefined) by itself and leaves no state behind. A byte
// that starts a longer sequence (EINVAL), is held back (glibc's windows-1255 and -1258 wait to
// compose a letter with the accent after it) or leaves output to flush disqualifies the charset.
std::unique_ptr<ByteTable> MakeByteTable(const char* charset) {
  iconv_t cd = Converters().Get(charset);
  if (cd == ConverterCache::kFailed) return nullptr;
  auto table = std::make_unique<ByteTable>();
  table->ascii_is_ascii = true;
  for (int b = 0; b < 256; ++b) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char byte = static_cast<char>(b);
    char* in = &byte;
    size_t in_left = 1;
    char buf[16];
    char* dst = buf;
    size_t dst_left = sizeof buf;
    std::string_view utf8;
    if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
      if (errno != EILSEQ || dst != buf) return nullptr;
      utf8 = kReplacement;  // What ConvertWithIconv writes before going on with the next byte.
    } else {
      const size_t produced = static_cast<size_t>(dst - buf);
      if (in_left != 0 || produced == 0) return nullptr;
      if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1) || dst != buf + produced) {
        return nullptr;
      }
      utf8 = std::string_view(buf, produced);
      // Invalid output would send ConvertWithIconv to its fallback for the whole text.
      if (utf8.size() > table->utf8[b].size() || !IsValidUtf8(utf8)) return nullptr;
    }
    std::memcpy(table->utf8[b].data(), utf8.data(), utf8.size());
    table->size[b] = static_cast<std::uint8_t>(utf8.size());
    if (b < 0x80 && utf8 != std::string_view(&byte, 1)) table->ascii_is_ascii = false;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return table;
}

// The verdict on each single-byte charset met, per thread, so the probe runs once per charset.
class ByteTableCache {
 public:
  // The cache's table for `charset` (an iconv name), or null when iconv must convert it.
  const ByteTable* Get(const char* charset) {
    for (const auto& [name, table] : known_) {
      if (name == charset) return table.get();
    }
    // Names come from mail; a flood of made-up ones must not grow the cache without end.
    if (known_.size() == kMaxKnown) known_.erase(known_.begin());
    known_.emplace_back(charset, MakeByteTable(charset));
    return known_.back().second.get();
  }

 private:
  static constexpr std::size_t kMaxKnown = 32;
  std::vector<std::pair<std::string, std::unique_ptr<ByteTable>>> known_;
};

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    // Runs of ASCII are the common case; skip them eight bytes at a time.
    i = AsciiRunEnd(bytes, i);
    if (i == bytes.size()) break;
    const size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string Utf8OrWindows1252ToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) {
      quill::AppendUtf8(out, Windows1252Char(static_cast<unsigned char>(bytes[i])));
      ++i;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (size_t i = 0; i < bytes.size();) {
    const size_t ascii = AsciiRunEnd(bytes, i);
    out.append(bytes.substr(i, ascii - i));
    if (ascii == bytes.size()) break;
    quill::AppendUtf8(out, Windows1252Char(static_cast<unsigned char>(bytes[ascii])));
    i = ascii + 1;
  }
  return out;
}

std::string NormalizeCharsetName(std::string_view charset) {
  size_t b = 0, e = charset.size();
  auto junk = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\r' || c == '\n'; };
  while (b < e && junk(charset[b])) ++b;
  while (e > b && junk(charset[e - 1])) --e;
  return AsciiLower(charset.substr(b, e - b));
}

std::string TakeAsUtf8(std::string&& bytes, std::string_view charset) {
  const std::string name = NormalizeCharsetName(charset);
  if (IsAsciiOrUtf8Name(name) && IsValidUtf8(bytes)) return std::move(bytes);
  return ToUtf8(std::string_view(bytes), name);
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
  const std::string name = NormalizeCharsetName(charset);
  if (IsAsciiOrUtf8Name(name)) return Utf8OrWindows1252ToUtf8(bytes);
  if (IsLatin1Name(name)) return Windows1252ToUtf8(bytes);

  EnsureGMimeInitialized();
  if (IsIso2022JpName(name)) return Iso2022JpToUtf8(bytes);
  const char* iconv_name = SupersetOf(name);
  if (IsSingleByteFamily(name)) {
    thread_local ByteTableCache tables;
    if (const ByteTable* table = tables.Get(iconv_name)) return table->Convert(bytes);
  }
  return ConvertWithIconv(bytes, iconv_name);
}

namespace internal {

std::string IconvToUtf8(std::string_view bytes, std::string_view charset) {
  EnsureGMimeInitialized();
  const std::string name = NormalizeCharsetName(charset);
  if (IsIso2022JpName(name)) return Iso2022JpToUtf8(bytes);
  return ConvertWithIconv(bytes, SupersetOf(name));
}

}  // namespace internal

}  // namespace mime
