#include "common/text.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quill {
namespace {

// Decodes one code point at s[i]; advances i. Invalid bytes come back as U+DC80 + byte.
char32_t DecodeOne(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b0 = byte(i);
  const char32_t escaped = 0xDC00 + b0;
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return escaped;
  }
  if (i + extra >= s.size()) {  // the sequence runs past the end
    ++i;
    return escaped;
  }
  for (int k = 1; k <= extra; ++k) {
    const std::uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return escaped;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
  const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    ++i;
    return escaped;
  }
  i += extra + 1;
  return cp;
}

// Calls ascii(p, n) for each run of ASCII bytes and unit(u) for each UTF-16 code unit of the
// rest of `utf8`, with the escape convention for invalid bytes. Text is mostly ASCII: finding the
// runs eight bytes at a time lets the callers widen them in tight loops.
template <typename Ascii, typename Unit>
void ForEachUtf16Unit(std::string_view utf8, Ascii ascii, Unit unit) {
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t end = i;
    for (std::uint64_t w; utf8.size() - end >= 8; end += 8) {
      std::memcpy(&w, utf8.data() + end, 8);
      if ((w & kHighs) != 0) break;
    }
    while (end < utf8.size() && static_cast<std::uint8_t>(utf8[end]) < 0x80) ++end;
    if (end > i) {
      ascii(reinterpret_cast<const std::uint8_t*>(utf8.data()) + i, end - i);
      i = end;
      continue;
    }
    // Two-byte sequences (Cyrillic, Greek, Hebrew, accented Latin) are most of what is not ASCII;
    // they need none of the general decoder's checks but the continuation byte's.
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    if (lead >= 0xC2 && lead <= 0xDF && i + 1 < utf8.size()) {
      const auto next = static_cast<std::uint8_t>(utf8[i + 1]);
      if ((next & 0xC0) == 0x80) {
        unit(static_cast<char16_t>(((lead & 0x1F) << 6) | (next & 0x3F)));
        i += 2;
        continue;
      }
    }
    char32_t cp = DecodeOne(utf8, i);
    if (cp < 0x10000) {
      unit(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  // At most one code unit per byte.
  std::u16string out(utf8.size(), u'\0');
  char16_t* p = out.data();
  ForEachUtf16Unit(
      utf8,
      [&p](const std::uint8_t* run, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) p[k] = run[k];
        p += n;
      },
      [&p](char16_t u) { *p++ = u; });
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

std::vector<std::uint8_t> Utf8ToUtf16LeWithoutNul(std::string_view utf8) {
  std::vector<std::uint8_t> out(2 * utf8.size());
  std::uint8_t* p = out.data();
  auto put = [&p](char16_t u) {
    if (u == 0) return;
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p += 2;
  };
  ForEachUtf16Unit(
      utf8,
      [&](const std::uint8_t* run, std::size_t n) {
        std::size_t k = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time, interleaved with zeros, unless a NUL among them must be dropped.
        const __m128i zero = _mm_setzero_si128();
        for (; n - k >= 16; k += 16) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + k));
          if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) != 0) {
            for (std::size_t j = k; j < k + 16; ++j) put(run[j]);
            continue;
          }
          _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi8(v, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_unpackhi_epi8(v, zero));
          p += 32;
        }
#endif
        for (; k < n; ++k) put(run[k]);
      },
      put);
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));  // an escaped byte goes back as it came
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // any other lone surrogate has no UTF-8 form
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

int CompareUtf16(std::string_view a, std::string_view b) {
  // Plain ASCII and most text order the same in both forms; only decode when a difference shows.
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  // Back up to the start of the code point that differs.
  const auto continuation = [](std::string_view s, std::size_t k) {
    return k < s.size() && (static_cast<std::uint8_t>(s[k]) & 0xC0) == 0x80;
  };
  while (i > 0 && (continuation(a, i) || continuation(b, i))) --i;
  const std::u16string ua = Utf8ToUtf16(a.substr(i));
  const std::u16string ub = Utf8ToUtf16(b.substr(i));
  const int c = ua.compare(ub);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace quill
