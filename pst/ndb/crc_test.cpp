#include "pst/ndb/crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pst/ndb/format.h"
#include "pst/ndb/permute.h"

namespace pst::ndb {
namespace {

// The textbook one-bit-at-a-time form, written independently of the table-driven one.
std::uint32_t BitwiseCrc(const std::vector<std::uint8_t>& data) {
  std::uint32_t crc = 0;
  for (std::uint8_t byte : data) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(NdbCrc, KnownValues) {
  // Values from zlib's crc32 with the register inversions undone (the relation the format keeps).
  EXPECT_EQ(ComputeCrc(Bytes("")), 0u);
  EXPECT_EQ(ComputeCrc(Bytes("a")), 0x3ab551ceu);
  EXPECT_EQ(ComputeCrc(Bytes("123456789")), 0x2dfd2d88u);
}

TEST(NdbCrc, MatchesBitwiseFormAtEveryLengthAndChains) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data(kMaxBlockData + 16);  // Room for the longest length after the offset of 3.
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  // Every length through 300 covers each tail of the 64- and 16-byte folding loops.
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (std::size_t n : {496u, 511u, 4096u, 8175u, 8176u, 8189u}) lengths.push_back(n);
  for (std::size_t n : lengths) {
    std::vector<std::uint8_t> part(data.begin() + 3, data.begin() + 3 + n);  // unaligned start
    const std::uint32_t expected = BitwiseCrc(part);
    ASSERT_EQ(ComputeCrc(part), expected) << n;
    ASSERT_EQ(ComputeCrcPortable(part), expected) << n;
  }
  // A non-zero running value enters the fast path too.
  EXPECT_EQ(ComputeCrc(std::span(data).subspan(0, 200), 0xDEADBEEF),
            ComputeCrcPortable(std::span(data).subspan(0, 200), 0xDEADBEEF));
  const std::span<const std::uint8_t> all(data);
  EXPECT_EQ(ComputeCrc(all.subspan(100), ComputeCrc(all.first(100))), ComputeCrc(all));
}

// Outlook wrote these files; their header CRCs are the format's CRC computed by someone else.
TEST(NdbCrc, AgreesWithOutlookHeaders) {
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  if (shared == nullptr) GTEST_SKIP() << "QUILL_SHARED_DIR not set";
  for (const char* name : {"pstsdk_sample1.pst", "java-libpst_dist-list.pst"}) {
    std::ifstream in(std::string(shared) + "/reference-pst/" + name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(file.size(), 0x4600u);
    const std::span<const std::uint8_t> f(file);
    EXPECT_EQ(ComputeCrc(f.subspan(header::kCrcPartialStart, header::kCrcPartialLength)),
              Get32(&file[header::kCrcPartial]));
    EXPECT_EQ(ComputeCrc(f.subspan(header::kCrcPartialStart, header::kCrcFullLength)),
              Get32(&file[header::kCrcFull]));
    // The first AMap page's trailer CRC covers its 496 content bytes.
    EXPECT_EQ(ComputeCrc(f.subspan(kFirstRegionOffset, kPageContentSize)),
              Get32(&file[kFirstRegionOffset + kPageContentSize + 4]));
  }
}

TEST(NdbPermute, IsABijectionAndRoundTrips) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> enc(256), dec(256);
  PermuteEncode(all.data(), enc.data(), all.size());
  std::vector<bool> seen(256);
  for (std::uint8_t b : enc) seen[b] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  EXPECT_NE(enc, all);
  PermuteDecode(enc.data(), dec.data(), enc.size());
  EXPECT_EQ(dec, all);
  // In place, odd length (the unrolled loop's tail).
  std::vector<std::uint8_t> text = Bytes("Subject: hello");
  const auto original = text;
  PermuteEncode(text.data(), text.data(), text.size());
  PermuteDecode(text.data(), text.data(), text.size());
  EXPECT_EQ(text, original);
}

TEST(NdbPermute, FastPathAgreesWithByteLookupsAtEveryLength) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> data(kMaxBlockData + 64);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (std::size_t n : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 200u, 8175u, 8176u}) {
    std::vector<std::uint8_t> fast(n), slow(n);
    PermuteEncode(data.data() + 1, fast.data(), n);  // unaligned input
    PermuteEncodePortable(data.data() + 1, slow.data(), n);
    ASSERT_EQ(fast, slow) << n;
  }
}

TEST(NdbPermute, DecodesAnOutlookHeap) {
  // The root folder's property context in pstsdk_sample1.pst (block 0x64): encoded on
  // disk, it must decode to a heap header (signature 0xEC, client 0xBC).
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  if (shared == nullptr) GTEST_SKIP() << "QUILL_SHARED_DIR not set";
  std::ifstream in(std::string(shared) + "/reference-pst/pstsdk_sample1.pst", std::ios::binary);
  ASSERT_TRUE(in);
  std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Find the block through its trailer rather than trusting an offset: scan 64-byte slots.
  bool found = false;
  for (std::size_t end = kFirstRegionOffset + 128; end <= file.size() && !found; end += kSlotSize) {
    const std::uint8_t* t = &file[end - kBlockTrailerSize];
    if (Get64(t + 8) != 0x64) continue;
    const std::size_t cb = Get16(t);
    const std::size_t start = end - BlockDiskSize(cb);
    std::vector<std::uint8_t> plain(4);
    PermuteDecode(&file[start], plain.data(), 4);
    EXPECT_EQ(plain[2], 0xEC);
    EXPECT_EQ(plain[3], 0xBC);
    EXPECT_EQ(ComputeSignature(start, 0x64), Get16(t + 2));
    found = true;
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace pst::ndb
