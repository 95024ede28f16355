#include "pst/ndb/crc.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUILL_NDB_CLMUL 1
#endif

namespace pst::ndb {
namespace {

// Eight tables let the loop consume eight bytes per step (slicing by 8): table k holds the CRC of
// a byte followed by k zero bytes. Block data is the bulk of a file, so this is on the hot path.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeTables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();

std::uint32_t CrcTable(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  while (n >= 8) {
    const std::uint32_t lo =
        crc ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#ifdef QUILL_NDB_CLMUL
// Carry-less multiplication folds 64 bytes at a time, several times faster than the tables. The
// constants are powers of x modulo the polynomial, bit-reflected and shifted left by one (the
// reflected product comes out one bit short): x^544 and x^480 fold across 512 bits, x^160 and
// x^96 across 128, x^64 reduces 96 bits to 64; the last pair is the polynomial and
// floor(x^64 / P) for the final Barrett reduction to 32 bits.
constexpr long long kFold4Lo = 0x154442bd4, kFold4Hi = 0x1c6e41596;
constexpr long long kFold1Lo = 0x1751997d0, kFold1Hi = 0x0ccaa009e;
constexpr long long kFold64 = 0x163cd6124;
constexpr long long kPoly = 0x1db710641, kMu = 0x1f7011641;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                       next);
}

// REQUIRES: n >= 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t CrcClmul(const std::uint8_t* p, std::size_t n,
                                                                std::uint32_t crc) {
  auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const __m128i fold4 = _mm_set_epi64x(kFold4Hi, kFold4Lo);
  const __m128i fold1 = _mm_set_epi64x(kFold1Hi, kFold1Lo);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  n -= 64;
  for (; n >= 64; p += 64, n -= 64) {
    x0 = Fold(x0, fold4, load(p));
    x1 = Fold(x1, fold4, load(p + 16));
    x2 = Fold(x2, fold4, load(p + 32));
    x3 = Fold(x3, fold4, load(p + 48));
  }
  x0 = Fold(x0, fold1, x1);
  x0 = Fold(x0, fold1, x2);
  x0 = Fold(x0, fold1, x3);
  for (; n >= 16; p += 16, n -= 16) x0 = Fold(x0, fold1, load(p));

  // 128 bits to 96, then to 64.
  x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, fold1, 0x10));
  x0 = _mm_xor_si128(_mm_srli_si128(x0, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x0, low32), _mm_set_epi64x(0, kFold64), 0x00));
  // Barrett reduction to the 32-bit remainder.
  const __m128i poly = _mm_set_epi64x(kMu, kPoly);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x0 = _mm_xor_si128(x0, t);
  return CrcTable(p, n, static_cast<std::uint32_t>(_mm_extract_epi32(x0, 1)));
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif

}  // namespace

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc) {
#ifdef QUILL_NDB_CLMUL
  if (data.size() >= 64 && kHaveClmul) return CrcClmul(data.data(), data.size(), crc);
#endif
  return CrcTable(data.data(), data.size(), crc);
}

std::uint32_t ComputeCrcPortable(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return CrcTable(data.data(), data.size(), crc);
}

}  // namespace pst::ndb
