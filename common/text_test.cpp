#include "common/text.h"

#include <gtest/gtest.h>

#include <random>

namespace quill {
namespace {

TEST(TextTest, ValidUtf8RoundTripsThroughUtf16) {
  const std::string samples[] = {"", "Inbox", "Gelöschte Elemente", "受信トレイ", "Входящие", "emoji 📬 box"};
  for (const std::string& s : samples) {
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
  }
  EXPECT_EQ(Utf8ToUtf16("📬"), std::u16string(u"\xD83D\xDCEC"));
}

TEST(TextTest, InvalidBytesAreEscapedAndComeBackUnchanged) {
  // Latin-1 bytes, a truncated sequence, an overlong slash and a UTF-8 encoded surrogate.
  const std::string bad[] = {"caf\xE9", "x\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xFF\xFE"};
  for (const std::string& s : bad) {
    const std::u16string wide = Utf8ToUtf16(s);
    for (char16_t c : wide) EXPECT_FALSE(c == 0xFFFD);
    EXPECT_EQ(Utf16ToUtf8(wide), s);
  }
  EXPECT_EQ(Utf8ToUtf16("caf\xE9"), std::u16string(u"caf\xDCE9"));
}

TEST(TextTest, ComparesAsUtf16CodeUnits) {
  EXPECT_LT(CompareUtf16("\\A", "\\a"), 0);
  EXPECT_LT(CompareUtf16("\\a", "\\a\\x"), 0);
  EXPECT_EQ(CompareUtf16("same", "same"), 0);
  // U+1F4EC is a surrogate pair (0xD83D...) and so sorts before U+FF01, unlike in byte order.
  EXPECT_LT(CompareUtf16("x\xF0\x9F\x93\xAC", "x\xEF\xBC\x81"), 0);
  EXPECT_GT(CompareUtf16("x\xEF\xBC\x81", "x\xF0\x9F\x93\xAC"), 0);
  // The difference falls inside a shared lead byte: é (C3 A9) against ê (C3 AA).
  EXPECT_LT(CompareUtf16("\xC3\xA9", "\xC3\xAA"), 0);
}

// The byte form must hold exactly the code units of Utf8ToUtf16, NULs left out, for any input:
// valid text in every length of sequence, escaped bytes, cut-off sequences, embedded NULs.
TEST(TextTest, LittleEndianBytesMatchTheCodeUnits) {
  EXPECT_EQ(Utf8ToUtf16LeWithoutNul(std::string("a\0b\xC3\xA9\xF0\x9F\x93\xAC\xFF", 10)),
            (std::vector<std::uint8_t>{'a', 0, 'b', 0, 0xE9, 0, 0x3D, 0xD8, 0xEC, 0xDC, 0xFF, 0xDC}));
  const std::string pool = std::string("aZ \0\x7F\x80\xBF\xC2\xC3\xDF\xE0\xE2\xED\xEF\xF0\xF4\xF5\xFF", 18);
  std::mt19937 rng(11);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    // Every other round is mostly ASCII in long runs, the shape the fast paths take, with or
    // without NULs among them.
    const std::size_t ascii_only = round % 2 == 0 ? 0 : round % 4 == 1 ? 3 : 4;
    for (int i = static_cast<int>(rng() % 40); i > 0; --i) {
      const bool plain = ascii_only > 0 && rng() % 16 != 0;
      text.push_back(pool[rng() % (plain ? ascii_only : pool.size())]);
    }
    std::vector<std::uint8_t> expected;
    for (char16_t u : Utf8ToUtf16(text)) {
      if (u == 0) continue;
      expected.push_back(static_cast<std::uint8_t>(u));
      expected.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    ASSERT_EQ(Utf8ToUtf16LeWithoutNul(text), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace quill
