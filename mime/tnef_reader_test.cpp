#include "mime/tnef_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "mime/charset.h"
#include "mime/compressed_rtf.h"
#include "mime/message_file.h"
#include "mime/rtf_text.h"

namespace mime {
namespace {

// The streams tests/tnef/make_tnef.py writes, from the format descriptions alone.
std::string Stream(const std::string& name) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/tests/data/tnef/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The generator's attachment bytes.
std::string Pdf() {
  std::string s = "%PDF-1.4\n";
  for (int r = 0; r < 3; ++r) {
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  }
  return s + "\n%%EOF\n";
}
std::string Xlsx() {
  std::string s = "PK\x03\x04";
  for (int i = 0; i < 1500; ++i) s += static_cast<char>((i * 37) & 0xFF);
  return s;
}

std::string Base64(std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t n = std::min<size_t>(3, data.size() - i);
    unsigned v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 0x3F] : '=';
    if ((i / 3 + 1) % 19 == 0) out += "\r\n";
  }
  return out + "\r\n";
}

std::string Mail(const std::string& body, const std::string& tnef,
                 const std::string& type = "application/ms-tnef") {
  return "From: a@example.org\r\nSubject: rich text\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\n" +
         body + "\r\n--b\r\nContent-Type: " + type +
         "; name=\"winmail.dat\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(tnef) + "--b--\r\n";
}

TEST(CompressedRtf, StoredFormAndDamage) {
  const std::string raw = "{\\rtf1 plain}";
  std::string stored = std::string("\x19\0\0\0\x0d\0\0\0MELA\0\0\0\0", 16) + raw;
  quill::Result<std::string> r = DecompressRtf(stored);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(*r, raw);
  // A size beyond the data, a raw size beyond the stored text, an unknown method.
  EXPECT_FALSE(DecompressRtf(stored.substr(0, stored.size() - 1)).ok());
  std::string longer = stored;
  longer[4] = 0x0e;
  EXPECT_FALSE(DecompressRtf(longer).ok());
  std::string unknown = stored;
  unknown[8] = 'X';
  EXPECT_FALSE(DecompressRtf(unknown).ok());
  EXPECT_FALSE(DecompressRtf("short").ok());
}

TEST(CompressedRtf, CompressedFormChecksItsCrcAndSize) {
  // A run of eight literals, then a run holding only the end marker: a reference to the
  // dictionary position about to be written (207 for the prologue, plus the eight).
  std::string contents = std::string("\x00", 1) + "{\\rtf1 }";
  const unsigned end = (207 + 8) << 4;
  contents += std::string("\x01", 1) + static_cast<char>(end >> 8) + static_cast<char>(end & 0xFF);
  auto crc = [](std::string_view d) {
    std::uint32_t c = 0;
    for (unsigned char b : d) {
      std::uint32_t x = (c ^ b) & 0xFF;
      for (int k = 0; k < 8; ++k) x = (x & 1) ? 0xEDB88320u ^ (x >> 1) : x >> 1;
      c = x ^ (c >> 8);
    }
    return c;
  };
  auto le = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  const std::string packed = le(contents.size() + 12) + le(8) + "LZFu" + le(crc(contents)) + contents;
  quill::Result<std::string> r = DecompressRtf(packed);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(*r, "{\\rtf1 }");
  std::string bad_crc = packed;
  bad_crc[12] ^= 1;
  EXPECT_FALSE(DecompressRtf(bad_crc).ok());
  std::string wrong_size = packed;
  wrong_size[4] = 9;  // One byte more declared than the runs give.
  EXPECT_FALSE(DecompressRtf(wrong_size).ok());
  wrong_size[4] = 7;  // One byte fewer: the output would outgrow it.
  EXPECT_FALSE(DecompressRtf(wrong_size).ok());
}

TEST(RtfText, TextHtmlAndCodePages) {
  EXPECT_EQ(
      RtfToText("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\*\\generator x;}one\\par two\\tab\\u8364?\\'e9}"),
      "one\ntwo\t\u20ac\u00e9");
  // Fallback characters after \u are dropped, as many as \uc says.
  EXPECT_EQ(RtfToText("{\\rtf1\\uc2 a\\u1046\\'c6\\'c6b}"), "a\u0416b");
  // Code points outside Unicode become U+FFFD: the text stays valid UTF-8.
  EXPECT_EQ(RtfToText("{\\rtf1 \\u-99999?\\u2000000?}"), "\uFFFD\uFFFD");
  // The document's code page decides what \'hh means.
  EXPECT_EQ(RtfToText("{\\rtf1\\ansi\\ansicpg1251 \\'c6\\'e5}"), "\u0416\u0435");
  EXPECT_FALSE(RtfHoldsHtml("{\\rtf1\\ansi plain}"));
  const std::string html =
      "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <p>}\\htmlrtf x\\htmlrtf0 Hi {\\*\\htmltag "
      "</p>}\\htmlrtf\\par\\htmlrtf0}";
  EXPECT_TRUE(RtfHoldsHtml(html));
  EXPECT_EQ(RtfToHtml(html), "<p>Hi </p>");
  // Binary data is passed over by its length, whatever bytes it holds.
  EXPECT_EQ(RtfToText("{\\rtf1 a{\\*\\blip\\bin4 }}{x}b}c"), "abc");
  // Unbalanced and deeply nested groups do not break the reader.
  EXPECT_EQ(RtfToText(std::string(10000, '{') + "deep" + std::string(3, '}')), "deep");
  EXPECT_EQ(RtfToText("}}}text\\"), "text");
}

TEST(TnefReader, RtfBodyAndTwoAttachments) {
  const std::string data = Stream("winmail-rtf.dat");
  ASSERT_TRUE(LooksLikeTnef(data));
  quill::Result<TnefContent> r = ReadTnef(data);
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r->subject, "Quarter figures");
  EXPECT_EQ(r->text_body,
            "Hello Anna,\n\nthe figures for the quarter are attached: the report and the table.\n"
            "Caf\u00e9 costs \u20ac5 again.\n\nRegards,\nBj\u00f6rn\n");
  EXPECT_TRUE(r->html_body.empty());
  EXPECT_TRUE(r->rtf_body.starts_with("{\\rtf1\\ansi\\ansicpg1252"));
  ASSERT_EQ(r->attachments.size(), 2u);
  EXPECT_EQ(r->attachments[0].file_name, "Quarterly report.pdf");  // The long name, not the 8.3 title.
  EXPECT_EQ(r->attachments[0].mime_type, "application/pdf");
  EXPECT_EQ(r->attachments[0].data, Pdf());
  EXPECT_EQ(r->attachments[1].file_name, "\u00dcbersicht 2024.xlsx");
  EXPECT_EQ(r->attachments[1].mime_type, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
  EXPECT_EQ(r->attachments[1].data, Xlsx());
}

TEST(TnefReader, WrappedHtmlInlineImageAndAttachedMessage) {
  quill::Result<TnefContent> r = ReadTnef(Stream("winmail-html.dat"));
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r->html_body,
            "<html><head></head><body><p>Wrapped \u00ab HTML\u00bb body<img "
            "src=\"cid:logo@tnef\"></p></body></html>");
  EXPECT_EQ(r->html_charset, "utf-8");
  ASSERT_EQ(r->attachments.size(), 2u);
  EXPECT_EQ(r->attachments[0].file_name, "logo.png");  // Only the title names it.
  EXPECT_EQ(r->attachments[0].mime_type, "image/png");
  EXPECT_EQ(r->attachments[0].content_id, "logo@tnef");
  const Attachment& message = r->attachments[1];
  ASSERT_TRUE(message.embedded);
  EXPECT_EQ(message.mime_type, "message/rfc822");
  EXPECT_EQ(message.embedded->subject, "Minutes");
  EXPECT_EQ(message.embedded->text_body, "See the minutes.\r\n");
  ASSERT_EQ(message.embedded->attachments.size(), 1u);
  EXPECT_EQ(message.embedded->attachments[0].file_name, "minutes.txt");
  EXPECT_EQ(message.embedded->attachments[0].data, "Minutes of the meeting.\r\n");
}

TEST(TnefReader, RefusesWhatDoesNotAddUp) {
  EXPECT_FALSE(ReadTnef(Stream("winmail-corrupt.dat")).ok());
  EXPECT_FALSE(ReadTnef("").ok());
  EXPECT_FALSE(ReadTnef("not tnef at all").ok());
  std::string data = Stream("winmail-rtf.dat");
  // A changed byte inside an attachment's data fails its attribute's checksum.
  ASSERT_NE(data.find("%PDF"), std::string::npos);
  data[data.find("%PDF") + 1] ^= 0x20;
  EXPECT_FALSE(ReadTnef(data).ok());
}

TEST(TnefReader, BoundsTheNumberOfAttachments) {
  // Empty attachments cost the stream eleven bytes each and the store far more.
  auto stream = [](int attachments) {
    std::string s("\x78\x9f\x3e\x22\x01\x00", 6);
    for (int i = 0; i < attachments; ++i)
      s += std::string("\x02\x02\x90\x06\x00\x00\x00\x00\x00\x00\x00", 11);
    return s;
  };
  quill::Result<TnefContent> few = ReadTnef(stream(4096));
  ASSERT_TRUE(few.ok()) << few.status().message();
  EXPECT_EQ(few->attachments.size(), 4096u);
  EXPECT_FALSE(ReadTnef(stream(4097)).ok());
}

// Every cut and every single-byte change of a valid stream either reads or fails cleanly, and
// what it reads stays within a small multiple of the input.
TEST(TnefReader, SurvivesTruncationAndMutation) {
  for (const char* name : {"winmail-rtf.dat", "winmail-html.dat"}) {
    const std::string data = Stream(name);
    auto check = [&](const std::string& input) {
      quill::Result<TnefContent> r = ReadTnef(input);
      if (!r.ok()) return;
      size_t total = r->text_body.size() + r->html_body.size() + r->rtf_body.size();
      for (const Attachment& a : r->attachments) {
        total += a.data.size();
        EXPECT_TRUE(IsValidUtf8(a.file_name));
      }
      EXPECT_TRUE(IsValidUtf8(r->text_body));
      EXPECT_TRUE(IsValidUtf8(r->subject));
      EXPECT_LE(total, input.size() * 20 + 64);
    };
    for (size_t n = 0; n < data.size(); ++n) check(data.substr(0, n));
    for (size_t i = 0; i < data.size(); ++i) {
      for (unsigned char v : {0x00, 0xFF, 0x80}) {
        std::string mutated = data;
        mutated[i] = static_cast<char>(v);
        check(mutated);
        mutated[i] = static_cast<char>(data[i] ^ 0x01);
        check(mutated);
      }
    }
  }
}

// Both parsers build the model through the same code; each must give the same result.
class TnefMessage : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { internal::ForceGMimeParser(GetParam()); }
  void TearDown() override { internal::ForceGMimeParser(false); }
};

TEST_P(TnefMessage, TakesThePlaceOfWinmailDat) {
  const ParsedMessage m = ParseMessage(Mail("", Stream("winmail-rtf.dat")));
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(m.attachments[0].file_name, "Quarterly report.pdf");
  EXPECT_EQ(m.attachments[0].data, Pdf());
  EXPECT_EQ(m.attachments[1].data, Xlsx());
  EXPECT_TRUE(m.text_body.starts_with("Hello Anna,\n")) << m.text_body;
}

TEST_P(TnefMessage, HtmlBodyHidesTheImageItShows) {
  const ParsedMessage m = ParseMessage(Mail("  ", Stream("winmail-html.dat")));
  EXPECT_EQ(m.html_charset, "utf-8");
  EXPECT_NE(m.html_body.find("<img src=\"cid:logo@tnef\">"), std::string::npos);
  EXPECT_TRUE(m.text_from_html);
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_TRUE(m.attachments[0].hidden);
  EXPECT_TRUE(m.attachments[1].embedded);
}

TEST_P(TnefMessage, TypedTextStaysTheBody) {
  const ParsedMessage m =
      ParseMessage(Mail("What I typed.", Stream("winmail-rtf.dat"), "application/octet-stream"));
  EXPECT_EQ(m.text_body, "What I typed.");
  ASSERT_EQ(m.attachments.size(), 2u);  // Known by its name alone.
}

TEST_P(TnefMessage, DamagedStreamIsKeptWithANote) {
  const std::string damaged = Stream("winmail-corrupt.dat");
  const ParsedMessage m = ParseMessage(Mail("", damaged));
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].file_name, "winmail.dat");
  EXPECT_EQ(m.attachments[0].data, damaged);
  bool noted = false;
  for (const std::string& note : m.notes) noted |= note.starts_with("winmail.dat could not be decoded");
  EXPECT_TRUE(noted);
}

TEST_P(TnefMessage, TnefTypeWithoutTheSignatureStaysAsItCame) {
  const ParsedMessage m = ParseMessage(Mail("Text.", "plain bytes, no stream"));
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].data, "plain bytes, no stream");
  EXPECT_EQ(m.text_body, "Text.");
  bool noted = false;
  for (const std::string& note : m.notes) noted |= note.find("not a TNEF stream") != std::string::npos;
  EXPECT_TRUE(noted);
}

INSTANTIATE_TEST_SUITE_P(BothParsers, TnefMessage, ::testing::Bool());

}  // namespace
}  // namespace mime
