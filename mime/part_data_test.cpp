#include "mime/part_data.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mime/quoted_printable.h"

namespace mime {
namespace {

std::string Bytes(int from, int to) {
  std::string s;
  for (int i = from; i < to; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST(MimePartData, UuDecode) {
  const std::string lines =
      "M  $\" P0%!@<(\"0H+# T.#Q 1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL\n"
      "M+2XO,#$R,S0U-C<X.3H[/#T^/T!!0D-$149'2$E*2TQ-3D]045)35%565UA9\n";
  EXPECT_EQ(UuDecode("begin 644 data.bin\n" + lines + "`\nend\n"), Bytes(0, 90));
  EXPECT_EQ(UuDecode("some preamble\r\nbegin 600 x\r\n" + lines + "end\r\n"), Bytes(0, 90));
  EXPECT_EQ(UuDecode(lines), Bytes(0, 90));  // No begin line: the data starts at once.
  // A mailer stripped the trailing blanks (zero sextets) of the lines; the length still counts.
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(   \n`\nend\n"), "hi  ");
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(\n`\nend\n"), "hi  ");
  EXPECT_EQ(UuDecode("begin 644 x\n&\n`\nend\n"), std::string(6, '\0'));
  // Nothing after "end" is data.
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(\nend\n$:&D@(\n"), "hi  ");
  EXPECT_EQ(UuDecode(""), "");
}

// GMime's own decoder, with the bytes a group cut short still carries: the behaviour our decoder
// must keep, since it replaced this one for speed.
std::string GMimeBase64(std::string_view raw) {
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, GMIME_CONTENT_ENCODING_BASE64);
  std::string out(g_mime_encoding_outlen(&state, raw.size()), '\0');
  out.resize(g_mime_encoding_step(&state, raw.data(), raw.size(), out.data()));
  if (state.state == 2) out.push_back(static_cast<char>((state.save >> 4) & 0xFF));
  if (state.state == 3) {
    out.push_back(static_cast<char>((state.save >> 10) & 0xFF));
    out.push_back(static_cast<char>((state.save >> 2) & 0xFF));
  }
  return out;
}

TEST(MimePartData, Base64DecodesAsGMimeDoes) {
  EXPECT_EQ(Base64Decode("aGVsbG8gd29ybGQ=\r\n"), "hello world");
  EXPECT_EQ(Base64Decode("aGVs\nbG8=\n"), "hello");
  EXPECT_EQ(Base64Decode("aGVsbA"), "hell");  // Padding dropped by the sender.
  EXPECT_EQ(Base64Decode(""), "");
  // Random text over the alphabet, line ends, blanks, stray characters and padding in odd places.
  const std::string pool =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/==\r\n\n \t-*\x80\xff";
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string raw;
    const int n = static_cast<int>(rng() % 90);
    for (int i = 0; i < n; ++i) raw.push_back(pool[rng() % pool.size()]);
    ASSERT_EQ(Base64Decode(raw), GMimeBase64(raw)) << "input: " << raw;
  }
  // Long, mostly clean text, as attachments are: runs of whole blocks broken now and then by a
  // line end, a stray character or padding.
  const std::string alphabet = pool.substr(0, 64);
  const std::string breaks = pool.substr(64);
  for (int round = 0; round < 5000; ++round) {
    std::string raw;
    const int n = static_cast<int>(rng() % 600);
    for (int i = 0; i < n; ++i) {
      raw.push_back(rng() % 60 == 0 ? breaks[rng() % breaks.size()] : alphabet[rng() % alphabet.size()]);
    }
    ASSERT_EQ(Base64Decode(raw), GMimeBase64(raw)) << "input: " << raw;
  }
  // Long clean runs, cut at every length.
  std::string text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char>(rng()));
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(text.data()), text.size());
  const std::string b64 = encoded;
  g_free(encoded);
  EXPECT_EQ(Base64Decode(b64), text);
  for (std::size_t cut = 0; cut <= b64.size(); ++cut) {
    ASSERT_EQ(Base64Decode(b64.substr(0, cut)), GMimeBase64(b64.substr(0, cut))) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace mime

namespace mime {
namespace {

// GMime's quoted-printable decoder, one step over the whole text, as parts used to be decoded.
std::string GMimeQuotedPrintable(std::string_view raw) {
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  std::string out(g_mime_encoding_outlen(&state, raw.size()), '\0');
  out.resize(g_mime_encoding_step(&state, raw.data(), raw.size(), out.data()));
  return out;
}

TEST(MimePartData, QuotedPrintableDecodesAsGMimeDoes) {
  EXPECT_EQ(QuotedPrintableDecode("caf=C3=A9 =e2=82=ac"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(QuotedPrintableDecode("soft=\r\nbreak and=\nanother"), "softbreak andanother");
  EXPECT_EQ(QuotedPrintableDecode("1+1=2 =ZZ"), "1+1=2 =ZZ");
  // Every mix of the characters that matter, at every length, including escapes cut off by the
  // end of the text.
  const std::string pool = "=0afF9gZ \t\r\nx\x80\xFF";
  std::mt19937 rng(5);
  for (int round = 0; round < 50000; ++round) {
    std::string raw;
    for (int i = static_cast<int>(rng() % 24); i > 0; --i) raw.push_back(pool[rng() % pool.size()]);
    ASSERT_EQ(QuotedPrintableDecode(raw), GMimeQuotedPrintable(raw)) << "input: " << raw;
  }
}

}  // namespace
}  // namespace mime
