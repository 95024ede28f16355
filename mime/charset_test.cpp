#include "mime/charset.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

namespace mime {
namespace {

TEST(MimeCharset, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ascii"));
  EXPECT_TRUE(IsValidUtf8("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // Overlong '/'.
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // Overlong, three bytes.
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // A surrogate.
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // Above U+10FFFF.
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // Cut off.
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));           // Latin-1.
}

TEST(MimeCharset, UndeclaredTextKeepsEveryByte) {
  EXPECT_EQ(Utf8OrWindows1252ToUtf8("caf\xC3\xA9"), "café");
  EXPECT_EQ(Utf8OrWindows1252ToUtf8("caf\xE9 \x80"), "café €");
  // Valid UTF-8 and stray windows-1252 bytes in one text: each is read as what it is.
  EXPECT_EQ(Utf8OrWindows1252ToUtf8("\xE2\x82\xAC and \x93quoted\x94"), "€ and “quoted”");
  // The five bytes windows-1252 leaves undefined become C1 controls rather than vanishing.
  EXPECT_EQ(Utf8OrWindows1252ToUtf8("\x81\x8D"), "\xC2\x81\xC2\x8D");
}

TEST(MimeCharset, DeclaredCharsets) {
  EXPECT_EQ(ToUtf8("\xE9t\xE9", "ISO-8859-1"), "été");
  EXPECT_EQ(ToUtf8("\x80", "iso-8859-1"), "€");  // Read as its windows-1252 superset.
  // Declared Latin-1 is honoured even when the bytes happen to form valid UTF-8.
  EXPECT_EQ(ToUtf8("\xC3\xA9", "latin1"), "Ã©");
  EXPECT_EQ(ToUtf8("\xA4", " \"ISO-8859-15\" "), "€");
  EXPECT_EQ(ToUtf8("\xF0\xD2\xC9\xD7\xC5\xD4", "koi8-r"), "Привет");
  EXPECT_EQ(ToUtf8("\x1B$B$3$s\x1B(B", "iso-2022-jp"), "こん");
  // Mislabelled text in a declared UTF-8 body: the stray byte survives.
  EXPECT_EQ(ToUtf8("caf\xE9", "utf-8"), "café");
  // Unknown or empty names fall back to UTF-8, then windows-1252.
  EXPECT_EQ(ToUtf8("caf\xE9", "x-no-such-charset"), "café");
  EXPECT_EQ(ToUtf8("caf\xC3\xA9", ""), "café");
}

TEST(MimeCharset, BadSequencesBecomeReplacementCharacters) {
  // 0x82 0x20 is no Shift_JIS character; conversion goes on after it.
  const std::string out = ToUtf8("\x93\xFA\x82\x20\x96\x7B", "shift_jis");
  EXPECT_EQ(out, "日\xEF\xBF\xBD \xE6\x9C\xAC");
  // A multi-byte character cut off by the end of the text.
  EXPECT_EQ(ToUtf8("\x93\xFA\x96", "shift_jis"), "日\xEF\xBF\xBD");
  EXPECT_TRUE(IsValidUtf8(ToUtf8("\xFF\xFE\xFD", "gb18030")));
}

// Japanese Windows mail labelled ISO-2022-JP is written in Microsoft's superset of it: NEC row 13,
// the NEC-selected IBM extensions and half-width katakana must not become replacement characters.
TEST(MimeCharset, Iso2022JpIsReadAsItsWindowsSuperset) {
  EXPECT_EQ(ToUtf8("No.\x1B$B-b-!-5-j\x1B(B", "iso-2022-jp"), "No.№①Ⅰ㈱");
  EXPECT_EQ(ToUtf8("\x1B$By!\x1B(B", "ISO-2022-JP"), "纊");  // Row 89, an IBM extension.
  EXPECT_EQ(ToUtf8("\x1B$BF|K\\\x1B(I1\x1B(B!", "csISO2022JP"), "日本ｱ!");
  EXPECT_EQ(ToUtf8("\x0E"
                   "1\x0F"
                   "a",
                   "cp50222"),
            "ｱa");  // SO and SI.
  EXPECT_EQ(ToUtf8("\x1B$B$3\r\n$s\x1B(B", "iso-2022-jp"), "こ\r\nん");
  // A set CP932 lacks is read as ISO-2022-JP-2 reads it (JIS X 0212 here).
  EXPECT_EQ(ToUtf8("\x1B$(D\x22\x2F\x1B(Bx", "iso-2022-jp"), "˘x");
  // Bytes no ISO-2022-JP text holds still become replacement characters.
  EXPECT_EQ(ToUtf8("a\x80\x1B$B$3$\x01\x1B(B", "iso-2022-jp"), "a\xEF\xBF\xBDこ\xEF\xBF\xBD\x01");
}

// Converters are reused from text to text: each text must start in the initial state, even after
// one that ended inside a shifted (two-byte) run, and on every thread.
TEST(MimeCharset, EachTextStartsInTheInitialState) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ToUtf8("\x1B$B$3$", "iso-2022-jp"), "こ\xEF\xBF\xBD");  // Cut off in a shifted run.
    EXPECT_EQ(ToUtf8("abc", "iso-2022-jp"), "abc");
    EXPECT_EQ(ToUtf8("\x1B$B$3$s", "iso-2022-jp"), "こん");  // No shift back: fine at the end.
    EXPECT_EQ(ToUtf8("abc", "iso-2022-jp"), "abc");
  }
  std::string fromThread;
  std::thread([&] {
    fromThread = ToUtf8("\x1B$B$3$s\x1B(B", "iso-2022-jp") + ToUtf8("\xD0\xD2", "koi8-r");
  }).join();
  EXPECT_EQ(fromThread, "こんпр");
}

TEST(MimeCharset, SupersetsOfMislabelledCharsets) {
  // ① exists only in the Windows form of Shift_JIS, and 烣 only in GBK, not in GB2312.
  EXPECT_EQ(ToUtf8("\x87\x40", "Shift_JIS"), "①");
  EXPECT_EQ(ToUtf8("\x9F\x46", "gb2312"), "烣");
}

// Single-byte charsets are converted through a table of what each byte becomes; the output must
// be byte for byte what iconv gives. Charsets iconv reads with state (glibc's windows-1255 and
// -1258 compose a letter with the accent after it) and multi-byte ones are in the list too: read
// byte by byte, they would come out wrong.
TEST(MimeCharset, SingleByteCharsetsMatchIconv) {
  const char* const kCharsets[] = {"koi8-r",       "koi8-u",       "iso-8859-2",   "iso-8859-3",
                                   "iso-8859-5",   "iso-8859-7",   "iso-8859-8-i", "ISO-8859-15",
                                   "windows-1250", "windows-1251", "windows-1253", "windows-1255",
                                   "windows-1258", "cp1257",       "tis-620",      "ibm866",
                                   "shift_jis",    "gb2312",       "iso-2022-jp",  "big5"};
  std::mt19937 random(20240611);
  for (const char* charset : kCharsets) {
    SCOPED_TRACE(charset);
    for (int b = 0; b < 256; ++b) {
      const std::string one(1, static_cast<char>(b));
      ASSERT_EQ(ToUtf8(one, charset), internal::IconvToUtf8(one, charset)) << "byte " << b;
    }
    for (int n = 0; n < 3000; ++n) {
      // Every other text is mostly ASCII, so that long ASCII runs between other bytes occur too.
      const bool mostly_ascii = n % 2 == 1;
      std::string text(random() % 65, '\0');
      for (char& c : text) {
        const unsigned v = random();
        c = static_cast<char>(mostly_ascii && v % 8 != 0 ? (v >> 8) % 0x80 : (v >> 8) % 0x100);
      }
      ASSERT_EQ(ToUtf8(text, charset), internal::IconvToUtf8(text, charset))
          << ::testing::PrintToString(text);
    }
  }
}

TEST(MimeCharset, MoveOverloadReturnsTheSameText) {
  std::string utf8 = "grüße";
  EXPECT_EQ(TakeAsUtf8(std::move(utf8), "utf-8"), "grüße");
  std::string latin =
      "gr\xFC\xDF"
      "e";
  EXPECT_EQ(TakeAsUtf8(std::move(latin), "iso-8859-1"), "grüße");
  EXPECT_EQ(NormalizeCharsetName("  'UTF-8'\r\n"), "utf-8");
}

}  // namespace
}  // namespace mime
