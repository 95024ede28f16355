// Parses the hand-written messages of tests/data/mail (see make_mail.py there) and messages built
// here, and checks what the model holds against what each message was written to contain.
#include "mime/message_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "fs/faulty_env.h"
#include "fs/memory_env.h"

namespace mime {
namespace {

using std::chrono::sys_days;
using namespace std::chrono_literals;

std::string DataPath(const std::string& name) { return std::string(QUILL_MIME_TEST_DATA) + "/" + name; }

ParsedMessage Read(const std::string& name) {
  quill::Result<ParsedMessage> m = ReadMessageFile(DataPath(name));
  EXPECT_TRUE(m.ok()) << name << ": " << m.status().ToString();
  return m.ok() ? std::move(m).value() : ParsedMessage{};
}

std::chrono::sys_seconds Utc(std::chrono::year_month_day day, std::chrono::seconds time_of_day) {
  return std::chrono::sys_seconds(sys_days(day)) + time_of_day;
}

TEST(MimeFile, CharsetsOfSubjectAndBody) {
  struct Case {
    const char* file;
    const char* text;
  };
  const Case cases[] = {
      {"charset-utf-8.eml", "Grüße aus Köln – 東京 🙂"},
      {"charset-iso-8859-1.eml", "Café crème à la française"},
      {"charset-iso-8859-2.eml", "Zażółć gęślą jaźń"},
      {"charset-iso-8859-15.eml", "Prix : 100 € pour l'œuvre"},
      {"charset-windows-1250.eml", "Příliš žluťoučký kůň úpěl ďábelské ódy"},
      {"charset-windows-1251.eml", "Привет, мир! Съешь ещё"},
      {"charset-windows-1252.eml", "“Smart quotes” – and € … ™"},
      {"charset-koi8-r.eml", "Съешь же ещё этих мягких французских булок"},
      {"charset-shift_jis.eml", "日本語のテキストです"},
      {"charset-iso-2022-jp.eml", "こんにちは、世界"},
      {"charset-iso-2022-jp-windows.eml", "№①Ⅰ㈱纊"},  // Written in the Windows superset.
      {"charset-gb18030.eml", "简体中文测试：你好"},
      {"charset-big5.eml", "繁體中文測試：您好"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ParsedMessage m = Read(c.file);
    EXPECT_EQ(m.subject, c.text);
    EXPECT_EQ(m.text_body, std::string(c.text) + "\n");
    EXPECT_TRUE(m.html_body.empty());
    EXPECT_TRUE(m.attachments.empty());
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Tester");
    EXPECT_EQ(m.from[0].address, "tester@example.org");
  }
}

TEST(MimeFile, HeaderFields) {
  const ParsedMessage m = Read("headers.eml");
  EXPECT_EQ(m.subject, "Re: Sitzungsprotokoll für März");
  EXPECT_EQ(m.subject_prefix, "Re: ");
  EXPECT_EQ(m.normalized_subject, "Sitzungsprotokoll für März");

  ASSERT_EQ(m.from.size(), 1u);
  EXPECT_EQ(m.from[0].name, "Jürgen Müller");
  EXPECT_EQ(m.from[0].address, "juergen@example.de");
  ASSERT_EQ(m.sender.size(), 1u);
  EXPECT_EQ(m.sender[0].address, "assistant@example.de");
  ASSERT_EQ(m.reply_to.size(), 1u);
  EXPECT_EQ(m.reply_to[0].address, "replies@example.de");
  // The group is flattened, the empty undisclosed-recipients group contributes nobody.
  ASSERT_EQ(m.to.size(), 3u);
  EXPECT_EQ(m.to[0].address, "anna@example.org");
  EXPECT_EQ(m.to[1].name, "Berg, Bob");
  EXPECT_EQ(m.to[1].address, "bob@example.org");
  EXPECT_EQ(m.to[2].address, "carol@example.org");
  ASSERT_EQ(m.cc.size(), 1u);
  EXPECT_EQ(m.cc[0].name, "Doe, John");
  ASSERT_EQ(m.bcc.size(), 1u);
  EXPECT_EQ(m.bcc[0].address, "hidden@example.com");

  using std::chrono::March;
  EXPECT_EQ(m.date_state, DateState::kValid);
  EXPECT_EQ(m.date, Utc(2026y / March / 3, 6h + 13min));  // 08:13 at +0200.
  ASSERT_TRUE(m.received_date.has_value());
  EXPECT_EQ(*m.received_date, Utc(2026y / March / 3, 8h + 15min));  // The topmost Received.

  EXPECT_EQ(m.message_id, "<abc.123@example.de>");
  EXPECT_EQ(m.in_reply_to, "<prev.1@example.org>");
  EXPECT_EQ(m.references, "<root.0@example.org> <prev.1@example.org>");
  EXPECT_EQ(m.importance, Importance::kHigh);
  EXPECT_EQ(m.sensitivity, Sensitivity::kPrivate);

  EXPECT_TRUE(m.headers.starts_with("Received: from mx2.example.net"));
  EXPECT_NE(m.headers.find("References: <root.0@example.org>\n\t<prev.1@example.org>\n"), std::string::npos);
  EXPECT_TRUE(m.headers.ends_with("Content-Type: text/plain; charset=us-ascii\n"));
  EXPECT_EQ(m.text_body, "See the minutes.\n");
}

TEST(MimeFile, BrokenEncodedWords) {
  // Mixed charsets, a euro sign split over two base64 words, and two malformed words kept as
  // written.
  EXPECT_EQ(Read("subject-broken-words.eml").subject, "café€ =?x?y?z?= end =?utf-8?q?open");
  // Each word ends in base64 padding; none may swallow the next.
  EXPECT_EQ(Read("subject-padded-words.eml").subject, "MySurvey.com:  You have");
}

TEST(MimeFile, EncodedDisplayAndFileNames) {
  const ParsedMessage m = Read("encoded-names.eml");
  ASSERT_EQ(m.from.size(), 1u);
  EXPECT_EQ(m.from[0].name, "MySurvey.com");
  ASSERT_EQ(m.to.size(), 3u);
  EXPECT_EQ(m.to[0].name, "€ Desk");
  EXPECT_EQ(m.to[0].address, "euro@example.org");
  EXPECT_EQ(m.to[1].name, "");
  EXPECT_EQ(m.to[1].address, "plain@example.org");
  EXPECT_EQ(m.to[2].name, "Jörg");
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(m.attachments[0].file_name, "äöü.bin");
  EXPECT_EQ(m.attachments[1].file_name, "document.xml.gz");
  EXPECT_EQ(m.attachments[1].data, "xyz");
}

TEST(MimeFile, MissingAndBadHeaders) {
  ParsedMessage m = Read("no-from.eml");
  EXPECT_TRUE(m.from.empty());
  EXPECT_EQ(m.subject, "Nobody sent this");
  EXPECT_EQ(m.date_state, DateState::kValid);

  m = Read("no-date.eml");
  EXPECT_EQ(m.date_state, DateState::kMissing);
  EXPECT_FALSE(m.received_date.has_value());
  EXPECT_EQ(m.text_body, "No date here.\n");

  m = Read("invalid-date.eml");
  EXPECT_EQ(m.date_state, DateState::kInvalid);
  EXPECT_EQ(m.importance, Importance::kLow);

  m = Read("no-headers.eml");
  EXPECT_TRUE(m.subject.empty());
  EXPECT_TRUE(m.headers.empty());
  EXPECT_EQ(m.text_body, "This file has no header section at all.\nSecond line: still text.\n");

  m = Read("empty.eml");
  EXPECT_TRUE(m.subject.empty());
  EXPECT_TRUE(m.text_body.empty());
  EXPECT_TRUE(m.attachments.empty());
}

// Date forms real mail holds that GMime alone misreads: each must give its own time, not UTC
// read from a zone it did not know, midnight, or no date at all.
TEST(MimeFile, ObsoleteAndSloppyDates) {
  using std::chrono::February;
  using std::chrono::July;
  const struct {
    const char* file;
    std::chrono::sys_seconds utc;
  } cases[] = {
      {"date-lowercase-zone.eml", Utc(2003y / July / 1, 16h + 52min + 37s)},  // cst is -0600.
      {"date-glued-zone.eml", Utc(2003y / February / 13, 11h + 36min + 12s)},
      {"date-three-digit-year.eml", Utc(2001y / February / 13, 11h + 36min + 12s)},
      {"date-comment-zone.eml", Utc(2003y / February / 13, 15h + 36min + 12s)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ParsedMessage m = Read(c.file);
    EXPECT_EQ(m.date_state, DateState::kValid);
    EXPECT_EQ(m.date, c.utc);
  }

  for (const auto& [raw, utc] : std::initializer_list<std::pair<const char*, std::chrono::sys_seconds>>{
           {"Thu, 13 Feb 2003 11:36:12 edt", Utc(2003y / February / 13, 15h + 36min + 12s)},
           {"thu, 13 feb 2003 11:36:12 PST", Utc(2003y / February / 13, 19h + 36min + 12s)},
           {"Thu, 13 Feb 2003 11:36:12-0130", Utc(2003y / February / 13, 13h + 6min + 12s)},
           {"Thu, 13 Feb 2003 11:36:12EDT", Utc(2003y / February / 13, 15h + 36min + 12s)},
           {"Thu, 13 Feb 2003 11:36:12 +0100 (CET)", Utc(2003y / February / 13, 10h + 36min + 12s)},
           {"Thu, 13 Feb 2003 (a (nested) comment) 11:36:12 +0000",
            Utc(2003y / February / 13, 11h + 36min + 12s)},
           {"13 Feb 99 11:36:12 +0000", Utc(1999y / February / 13, 11h + 36min + 12s)},
           {"13 Feb 03 11:36:12 +0000", Utc(2003y / February / 13, 11h + 36min + 12s)},
           {"13 Feb 103 11:36:12 +0000", Utc(2003y / February / 13, 11h + 36min + 12s)},
       }) {
    SCOPED_TRACE(raw);
    // Through the Received header too, which is read the same way.
    const std::string bytes =
        std::string("Received: by mx; ") + raw + "\nFrom: a@example.org\nDate: " + raw + "\n\nx\n";
    const ParsedMessage m = MessageFile::FromBytes(bytes).Content();
    EXPECT_EQ(m.date_state, DateState::kValid);
    EXPECT_EQ(m.date, utc);
    ASSERT_TRUE(m.received_date.has_value());
    EXPECT_EQ(*m.received_date, utc);
  }
}

// "Content-Type: text" alone is text/plain with its charset, not an attachment with an empty body.
TEST(MimeFile, TextWithoutSubtypeIsPlainText) {
  ParsedMessage m = Read("text-without-subtype.eml");
  EXPECT_EQ(m.text_body, "Café au lait\n");
  EXPECT_TRUE(m.attachments.empty());

  m = Read("text-part-without-subtype.eml");
  EXPECT_EQ(m.text_body, "The only text.");  // The line break before a boundary is the boundary's.
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].file_name, "a.pdf");

  // Only the bare type is read so: another type without a subtype stays an attachment.
  m = MessageFile::FromBytes("From: a@example.org\nContent-Type: image\n\nxyz\n").Content();
  EXPECT_TRUE(m.text_body.empty());
  ASSERT_EQ(m.attachments.size(), 1u);
  m = MessageFile::FromBytes("From: a@example.org\nContent-Type: textual/x\n\nxyz\n").Content();
  EXPECT_EQ(m.attachments.size(), 1u);
}

// The CR LF before a delimiter belongs to it, also when the delimiter's own line ends in LF only:
// 7-bit and 8-bit text holds CR only in CR LF (RFC 2045), so no CR of it may end a part's data.
TEST(MimeFile, NoStrayCrBeforeADelimiterEndingInLf) {
  for (const char* cte : {"", "Content-Transfer-Encoding: 7bit\r\n", "Content-Transfer-Encoding: 8bit\r\n"}) {
    SCOPED_TRACE(cte);
    const std::string bytes = std::string(
                                  "From: a@example.org\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: "
                                  "multipart/mixed; boundary=b\r\n\r\n"
                                  "--b\r\nContent-Type: text/plain\r\n\r\nBody.\r\n"
                                  "--b\r\nContent-Type: text/plain; name=n.txt\r\nContent-Disposition: "
                                  "attachment; filename=n.txt\r\n") +
                              cte + "\r\nline one\r\nline two\r\n--b--\n";
    const ParsedMessage m = MessageFile::FromBytes(bytes).Content();
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].data, "line one\r\nline two");
  }
  // Binary data may end in CR; only its line break before the delimiter is taken off.
  const ParsedMessage m =
      MessageFile::FromBytes(
          "From: a@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
          "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: "
          "binary\n\nAB\r\n--b--\n")
          .Content();
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].data, "AB\r");
}

TEST(MimeFile, UndeclaredEightBitText) {
  for (const char* file : {"undeclared-8bit-latin.eml", "undeclared-8bit-utf8.eml"}) {
    SCOPED_TRACE(file);
    const ParsedMessage m = Read(file);
    EXPECT_EQ(m.subject, "Grüße");
    EXPECT_EQ(m.text_body, "Preis: 5 €, Grüße\n");
  }
}

TEST(MimeFile, Wrappers) {
  ParsedMessage m = Read("mbox-from-line.eml");
  EXPECT_EQ(m.subject, "Saved from mbox");
  ASSERT_EQ(m.from.size(), 1u);
  EXPECT_TRUE(m.headers.starts_with("From: sender@example.org\n"));

  m = Read("bom.eml");
  EXPECT_EQ(m.subject, "After a BOM");
  EXPECT_TRUE(m.headers.starts_with("From: a@example.org"));

  for (const char* file : {"apple.emlx", "apple-wrong-count.emlx", "apple-no-count.emlx"}) {
    SCOPED_TRACE(file);
    m = Read(file);
    EXPECT_EQ(m.subject, "Apple Mail");
    // Nothing of the property list may leak into the body.
    EXPECT_EQ(m.text_body, "Hello from Mail.app.\n");
    ASSERT_TRUE(m.emlx_flags.has_value());
    EXPECT_EQ(m.emlx_flags->raw, 8590195729u);
    EXPECT_TRUE(m.emlx_flags->read);
    EXPECT_TRUE(m.emlx_flags->flagged);
    EXPECT_FALSE(m.emlx_flags->answered);
  }
  EXPECT_TRUE(Read("apple.emlx").notes.empty());
  EXPECT_FALSE(Read("apple-wrong-count.emlx").notes.empty());
  EXPECT_FALSE(Read("bom.eml").emlx_flags.has_value());
}

TEST(MimeFile, MultipartAlternative) {
  const ParsedMessage m = Read("multipart-alternative.eml");
  EXPECT_EQ(m.text_body, "Plain version: café");
  EXPECT_FALSE(m.text_from_html);
  EXPECT_EQ(m.html_body, "<html><body><p>HTML version: café</p></body></html>");
  EXPECT_EQ(m.html_charset, "utf-8");
  // The text/enriched rendering is another form of the same text, not an attachment.
  EXPECT_TRUE(m.attachments.empty());
}

TEST(MimeFile, MultipartRelatedInlineImage) {
  const ParsedMessage m = Read("multipart-related.eml");
  EXPECT_EQ(m.text_body, "Logo below.");
  EXPECT_NE(m.html_body.find("cid:Logo.1@example.org"), std::string::npos);
  ASSERT_EQ(m.attachments.size(), 3u);
  const Attachment& logo = m.attachments[0];
  EXPECT_EQ(logo.file_name, "logo.png");
  EXPECT_EQ(logo.mime_type, "image/png");
  EXPECT_EQ(logo.content_id, "logo.1@example.org");
  EXPECT_TRUE(logo.inline_disposition);
  EXPECT_TRUE(logo.hidden);  // Referenced from the HTML (content IDs compare without case).
  ASSERT_EQ(logo.data.size(), 66u);
  EXPECT_EQ(logo.data.substr(0, 4), "\x89PNG");
  const Attachment& unused = m.attachments[1];
  EXPECT_FALSE(unused.hidden);
  EXPECT_EQ(unused.content_location, "http://example.org/unused.png");
  EXPECT_EQ(unused.data, logo.data);
  // Referenced by its Content-Location, as saved web pages do.
  EXPECT_TRUE(m.attachments[2].hidden);
  EXPECT_EQ(m.attachments[2].content_location, "http://example.org/by-location.png");
}

TEST(MimeFile, MultipartMixedAttachments) {
  const ParsedMessage m = Read("multipart-mixed.eml");
  EXPECT_EQ(m.text_body, "See attached.");
  ASSERT_EQ(m.attachments.size(), 4u);

  const Attachment& pdf = m.attachments[0];
  EXPECT_EQ(pdf.file_name, "Bericht über März.pdf");  // RFC 2231, UTF-8.
  EXPECT_EQ(pdf.mime_type, "application/pdf");
  ASSERT_EQ(pdf.data.size(), 9u + 256u + 7u);
  EXPECT_TRUE(pdf.data.starts_with("%PDF-1.4\n"));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(static_cast<unsigned char>(pdf.data[9 + i]), i);

  EXPECT_EQ(m.attachments[1].file_name, "notes.txt");
  EXPECT_EQ(m.attachments[1].data, "line one\nline two");
  EXPECT_EQ(m.attachments[2].file_name, "Frühling.png");  // RFC 2047 in a name parameter.
  EXPECT_EQ(m.attachments[2].data.size(), 66u);
  EXPECT_EQ(m.attachments[3].file_name, "été report.bin");  // RFC 2231 continuations, Latin-1.
  EXPECT_EQ(m.attachments[3].data, std::string("\x00\x01\x02", 3));
  for (const Attachment& a : m.attachments) EXPECT_FALSE(a.hidden);
}

TEST(MimeFile, ForwardedMessage) {
  const ParsedMessage m = Read("forwarded.eml");
  EXPECT_EQ(m.subject_prefix, "Fwd: ");
  EXPECT_EQ(m.text_body, "Forwarding this.");
  ASSERT_EQ(m.attachments.size(), 1u);
  const Attachment& a = m.attachments[0];
  EXPECT_EQ(a.mime_type, "message/rfc822");
  EXPECT_EQ(a.file_name, "original.eml");
  ASSERT_NE(a.embedded, nullptr);
  const ParsedMessage& inner = *a.embedded;
  EXPECT_EQ(inner.subject, "Original");
  ASSERT_EQ(inner.from.size(), 1u);
  EXPECT_EQ(inner.from[0].name, "Original Sender");
  EXPECT_EQ(inner.date, Utc(std::chrono::year_month_day(2026y / std::chrono::March / 1), 7h));
  EXPECT_EQ(inner.text_body, "The original text.");
  EXPECT_NE(inner.headers.find("Subject: Original"), std::string::npos);
  ASSERT_EQ(inner.attachments.size(), 1u);
  EXPECT_EQ(inner.attachments[0].file_name, "data.csv");
  EXPECT_EQ(inner.attachments[0].data, "a,b\n1,2");
}

TEST(MimeFile, SignedMessage) {
  const ParsedMessage m = Read("signed.eml");
  EXPECT_EQ(m.text_body, "Signed text.");
  EXPECT_EQ(m.html_body, "<p>Signed <b>HTML</b>.</p>");
  // S/MIME: the one attachment is the signed entity as the file holds it, the signature inside.
  EXPECT_EQ(m.smime, SmimeForm::kClearSigned);
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].file_name, "smime.p7m");
  EXPECT_EQ(m.attachments[0].mime_type, "multipart/signed");
  EXPECT_TRUE(m.attachments[0].data.starts_with("Content-Type: multipart/signed; protocol="));
  EXPECT_TRUE(m.attachments[0].data.ends_with("filename=smime.p7s\n\nMIIBAGZha2Utc2lnbmF0dXJl\n--sig--\n"));
}

TEST(MimeFile, HtmlOnlyGetsDerivedText) {
  const ParsedMessage m = Read("html-only.eml");
  EXPECT_EQ(m.html_charset, "windows-1252");                  // From the <meta> element.
  EXPECT_NE(m.html_body.find("Caf\xe9"), std::string::npos);  // Bytes kept as sent.
  EXPECT_TRUE(m.text_from_html);
  EXPECT_EQ(m.text_body, "Café & crème €\n\nLine two\nLine three");
}

TEST(MimeFile, DamagedStructure) {
  ParsedMessage m = Read("broken-boundary.eml");
  EXPECT_NE(m.text_body.find("Text that is still worth keeping."), std::string::npos);
  EXPECT_FALSE(m.notes.empty());

  m = Read("truncated-base64.eml");
  EXPECT_EQ(m.text_body, "Attachment follows.");
  ASSERT_EQ(m.attachments.size(), 1u);
  // 151 base64 characters survive: 37 whole groups and three characters that still hold two bytes.
  ASSERT_EQ(m.attachments[0].data.size(), 113u);
  for (size_t i = 0; i < 113; ++i) ASSERT_EQ(static_cast<unsigned char>(m.attachments[0].data[i]), i);
}

TEST(MimeFile, MissingEmptyLinesAfterHeaders) {
  ParsedMessage m = Read("body-after-headers.eml");
  EXPECT_EQ(m.subject, "Straight in");
  EXPECT_EQ(m.text_body, "Hello there,\nsecond line.\n");

  m = Read("missing-blank-lines.eml");
  EXPECT_EQ(m.text_body, "Body text.");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].file_name, "data.bin");
  EXPECT_EQ(m.attachments[0].data, std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10));
}

TEST(MimeFile, DeepNestingIsBounded) {
  std::string multipart = "From: a@example.org\nSubject: deep\n";
  for (int i = 0; i < 1000; ++i) {
    multipart += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" +
                 std::to_string(i) + "\n";
  }
  multipart += "Content-Type: text/plain\n\ninnermost\n";
  for (int i = 999; i >= 0; --i) multipart += "--b" + std::to_string(i) + "--\n";
  ParsedMessage m = ParseMessage(multipart);
  EXPECT_EQ(m.subject, "deep");
  EXPECT_FALSE(m.notes.empty());

  std::string nested = "From: x@example.org\nSubject: level 1000\n\ninnermost\n";
  for (int i = 999; i >= 0; --i) {
    nested = "From: a@example.org\nSubject: level " + std::to_string(i) +
             "\nContent-Type: message/rfc822\n\n" + nested;
  }
  m = ParseMessage(nested);
  int depth = 0;
  const ParsedMessage* level = &m;
  while (!level->attachments.empty() && level->attachments[0].embedded) {
    level = level->attachments[0].embedded.get();
    ++depth;
  }
  EXPECT_GT(depth, 10);
  EXPECT_LT(depth, 100);
  EXPECT_EQ(level->subject, "level " + std::to_string(depth));
  // Below the limit the rest of the chain is kept as bytes, not dropped.
  ASSERT_EQ(level->attachments.size(), 1u);
  EXPECT_NE(level->attachments[0].data.find("Subject: level " + std::to_string(depth + 1)),
            std::string::npos);
  EXPECT_NE(level->attachments[0].data.find("innermost"), std::string::npos);
}

// Whatever a parser cannot walk of a very deep tree is kept, never dropped: the deepest part's
// bytes are in some attachment, whichever parser reads it.
TEST(MimeFile, VeryDeepMultipartsKeepTheirDeepestPart) {
  for (int levels : {100, 1100, 1500}) {
    std::string m = "From: a@example.org\nSubject: deep\n";
    for (int i = 0; i < levels; ++i) {
      m += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" +
           std::to_string(i) + "\n";
    }
    m += "Content-Type: application/octet-stream; name=\"deepest.bin\"\n\ndeepest part\n";
    for (int i = levels - 1; i >= 0; --i) m += "--b" + std::to_string(i) + "--\n";
    const ParsedMessage c = ParseMessage(m);
    bool kept = c.text_body.find("deepest part") != std::string::npos;
    for (const Attachment& a : c.attachments) kept = kept || a.data.find("deepest part") != std::string::npos;
    EXPECT_TRUE(kept) << levels << " levels";
  }
}

TEST(MimeFile, HugeHeaderLineIsCut) {
  std::string data = "From: a@example.org\nSubject: ";
  data.append(100u << 20, 'x');
  data += "\nTo: b@example.org\n\nbody\n";
  const auto start = std::chrono::steady_clock::now();
  const ParsedMessage m = ParseMessage(data);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(m.subject.size(), (1u << 20) - 9);  // The field is cut to 1 MiB, "Subject: " included.
  ASSERT_EQ(m.to.size(), 1u);
  EXPECT_EQ(m.to[0].address, "b@example.org");
  EXPECT_EQ(m.text_body, "body\n");
  EXPECT_FALSE(m.notes.empty());
}

TEST(MimeFile, GarbageBecomesAnAttachment) {
  std::mt19937 rng(42);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  const ParsedMessage m = ParseMessage(garbage);
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].data, garbage);
  EXPECT_EQ(m.attachments[0].mime_type, "application/octet-stream");
}

TEST(MimeFile, FileThatReportsNoSize) {
  // /proc files report size 0 however much they hold; reading must go on to the real end.
  quill::Result<ParsedMessage> m = ReadMessageFile("/proc/self/status");
  ASSERT_TRUE(m.ok()) << m.status().ToString();
  EXPECT_NE(m->headers.find("Name:"), std::string::npos);
  EXPECT_NE(m->headers.find("Pid:"), std::string::npos);
}

TEST(MimeFile, UnreadableFileIsAnError) {
  quill::Result<ParsedMessage> m = ReadMessageFile(DataPath("does-not-exist.eml"));
  ASSERT_FALSE(m.ok());
  EXPECT_EQ(m.status().code(), quill::Status::Code::kIOError);
  EXPECT_NE(m.status().message().find("No such file or directory"), std::string::npos);
  EXPECT_NE(m.status().message().find("does-not-exist.eml"), std::string::npos);

  m = ReadMessageFile(QUILL_MIME_TEST_DATA);
  ASSERT_FALSE(m.ok());
  EXPECT_NE(m.status().message().find("Is a directory"), std::string::npos);
}

TEST(MimeFile, NulInHeaderFieldsDoesNotEndTheValue) {
  using namespace std::string_literals;
  const std::string message =
      "From: Ev\0il <evil@example.com>\nTo: B\0ob <bob@example.com>\nSubject: hello\0 world\n"
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
      "--b\nContent-Type: text/plain\n\nbody\n"
      "--b\nContent-Type: application/octet-stream\nContent-Disposition: attachment; "
      "filename=\"a\0b.bin\"\n\n"
      "bin\0ary\n"
      "--b--\n"s;
  for (bool gmime_only : {false, true}) {
    internal::ForceGMimeParser(gmime_only);
    const ParsedMessage m = ParseMessage(message);
    SCOPED_TRACE(gmime_only ? "GMime" : "structural parser");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Ev\uFFFDil");
    EXPECT_EQ(m.from[0].address, "evil@example.com");
    ASSERT_EQ(m.to.size(), 1u);
    EXPECT_EQ(m.to[0].address, "bob@example.com");
    EXPECT_EQ(m.subject, "hello\uFFFD world");
    EXPECT_EQ(m.headers.find('\0'), std::string::npos);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].file_name, "a\uFFFDb.bin");
    EXPECT_EQ(m.attachments[0].data, "bin\0ary"s);  // Content is data: its NUL stays.
    EXPECT_NE(std::find(m.notes.begin(), m.notes.end(), "NUL bytes in header fields replaced by U+FFFD"),
              m.notes.end());
  }
  internal::ForceGMimeParser(false);
}

// The file is read through the file layer: from a file system in memory, and with each of its
// calls failing in turn (the open, then every read of a message larger than one read piece).
TEST(MimeFile, ReadsThroughTheFileLayerAndReportsItsFailures) {
  fs::MemoryEnv memory;
  ASSERT_EQ(memory.CreateDirectory("/mail"), 0);
  std::unique_ptr<fs::Directory> dir;
  ASSERT_EQ(memory.OpenDirectory("/mail", &dir), 0);
  std::unique_ptr<fs::WritableFile> file;
  ASSERT_EQ(dir->OpenFile("a.eml", fs::OpenMode::kCreateOrOpen, 0644, &file), 0);
  const std::string text = "Subject: in memory\n\n" + std::string((8 << 20) + 100, 'x') + "\n";
  std::size_t written = 0;
  ASSERT_EQ(file->WriteAt(0, text.data(), text.size(), &written), 0);
  ASSERT_EQ(written, text.size());

  quill::Result<MessageFile> read = MessageFile::Open("/mail/a.eml", memory);
  ASSERT_TRUE(read.ok()) << read.status().ToString();
  EXPECT_EQ(read->size(), text.size());
  EXPECT_EQ(read->Content().subject, "in memory");
  read = MessageFile::Open("/mail", memory);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.status().message(), std::string(std::strerror(EISDIR)) + ": /mail");

  fs::FaultyEnv faulty(memory);
  faulty.FailCall(0, 0);
  ASSERT_TRUE(MessageFile::Open("/mail/a.eml", faulty).ok());
  const std::uint64_t calls = faulty.calls();
  EXPECT_EQ(calls, 4u);  // the open, two pieces and the read that finds the end
  for (std::uint64_t n = 1; n <= calls; ++n) {
    faulty.FailCall(n, EIO);
    read = MessageFile::Open("/mail/a.eml", faulty);
    ASSERT_FALSE(read.ok()) << n;
    EXPECT_EQ(read.status().message(), std::string(std::strerror(EIO)) + ": /mail/a.eml") << n;
  }
}

// A scratch folder of its own, removed again at the end.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/quill-mime-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(MimeFile, OnlyRegularFilesAreRead) {
  ScratchDir dir;
  // A FIFO nobody writes to: opening it for reading would wait for ever.
  ASSERT_EQ(::mkfifo(dir.Path("fifo.eml").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.Path("zero.eml").c_str()), 0);  // Would never end.
  ASSERT_EQ(::symlink("/dev/null", dir.Path("null.eml").c_str()), 0);
  for (const char* name : {"fifo.eml", "zero.eml", "null.eml"}) {
    const auto start = std::chrono::steady_clock::now();
    quill::Result<ParsedMessage> m = ReadMessageFile(dir.Path(name));
    ASSERT_FALSE(m.ok()) << name;
    EXPECT_EQ(m.status().message(), std::string(kNotRegularFile) + ": " + dir.Path(name));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << name;
  }

  // A link to a regular file is read like the file itself.
  std::ofstream(dir.Path("real.eml")) << "Subject: linked\n\nbody\n";
  ASSERT_EQ(::symlink(dir.Path("real.eml").c_str(), dir.Path("link.eml").c_str()), 0);
  quill::Result<ParsedMessage> m = ReadMessageFile(dir.Path("link.eml"));
  ASSERT_TRUE(m.ok()) << m.status().ToString();
  EXPECT_EQ(m->subject, "linked");
}

TEST(MimeFile, FilesOverTheCapAreRefusedUnread) {
  ScratchDir dir;
  const std::string path = dir.Path("sparse.eml");
  std::ofstream(path) << "Subject: sparse\n\nbody\n";
  // A hole makes it this large without using the disk; reading it would take seconds.
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kMaxMessageFileBytes) + 1), 0);
  const auto start = std::chrono::steady_clock::now();
  quill::Result<ParsedMessage> m = ReadMessageFile(path);
  ASSERT_FALSE(m.ok());
  EXPECT_EQ(m.status().message(), "message file larger than 512 MiB: " + path);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

  // At the cap exactly a file is read.
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(1) << 20), 0);
  m = ReadMessageFile(path);
  ASSERT_TRUE(m.ok()) << m.status().ToString();
  EXPECT_EQ(m->subject, "sparse");
}

TEST(MimeFile, FileThatGrowsWhileReadIsRefused) {
  ScratchDir dir;
  const std::string path = dir.Path("growing.eml");
  std::ofstream(path) << "Subject: growing\n\n" << std::string(32u << 20, 'x');
  // Another writer appends without pause while the file is read; the read must not follow it.
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::ofstream out(path, std::ios::app);
    const std::string more(1 << 16, 'y');
    while (!done) out.write(more.data(), static_cast<std::streamsize>(more.size())).flush();
  });
  bool refused = false;
  for (int attempt = 0; attempt < 20 && !refused; ++attempt) {
    quill::Result<ParsedMessage> m = ReadMessageFile(path);
    refused = !m.ok();
    if (refused) {
      EXPECT_EQ(m.status().message(), std::string(kFileGrew) + ": " + path);
    }
  }
  done = true;
  writer.join();
  EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace mime
