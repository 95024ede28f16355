#include "mime/repair.h"

#include <gtest/gtest.h>

#include <string>

namespace mime {
namespace {

std::string Mend(const std::string& in) {
  std::string out;
  return InsertMissingHeaderEnds(in, out) ? out : in;
}

TEST(MimeRepair, BodyRightAfterTheHeaders) {
  EXPECT_EQ(Mend("From: a@b.c\nSubject: s\nthe body\nmore body\n"),
            "From: a@b.c\nSubject: s\n\nthe body\nmore body\n");
  EXPECT_EQ(Mend("From: a@b.c\r\nSubject: s\r\nthe body\r\n"),
            "From: a@b.c\r\nSubject: s\r\n\r\nthe body\r\n");
  // Sound messages, and text with no header at all, are left alone.
  std::string out;
  EXPECT_FALSE(InsertMissingHeaderEnds("From: a@b.c\n\nbody\n", out));
  EXPECT_FALSE(InsertMissingHeaderEnds("just text\nno headers\n", out));
  EXPECT_FALSE(InsertMissingHeaderEnds("From: a@b.c\nSubject: folded\n  on two lines\n", out));
}

TEST(MimeRepair, StrayLinesBetweenHeadersAreNotABody) {
  // Continuations that lost their indent, and a mangled header name, with headers after them.
  std::string out;
  EXPECT_FALSE(InsertMissingHeaderEnds(
      "Received: from x\nby y with SMTP\nid 7; Wed, 19 Nov 2014\nSubject: s\n\nbody\n", out));
  EXPECT_FALSE(InsertMissingHeaderEnds("From: a@b.c\nquite Delivered-To: x\nTo: d@e.f\n\nbody\n", out));
}

TEST(MimeRepair, PartHeadersRunningIntoData) {
  const std::string in =
      "Content-Type: multipart/mixed; boundary=\"XY\"\n\n"
      "--XY\nContent-Type: text/plain\n\nhello\n"
      "--XY\nContent-Type: application/zip\nContent-Transfer-Encoding: base64\nUEsDBBQAAAAIAA==\n\n"
      "--XY--\n";
  const std::string expected =
      "Content-Type: multipart/mixed; boundary=\"XY\"\n\n"
      "--XY\nContent-Type: text/plain\n\nhello\n"
      "--XY\nContent-Type: application/zip\nContent-Transfer-Encoding: base64\n\nUEsDBBQAAAAIAA==\n\n"
      "--XY--\n";
  EXPECT_EQ(Mend(in), expected);
  // A line that only looks like a boundary of an undeclared one is not touched.
  std::string out;
  EXPECT_FALSE(InsertMissingHeaderEnds("From: a@b.c\n\n--other\nName: x\ntext\n", out));
}

TEST(MimeRepair, LongHeaderFieldsAreCut) {
  std::string header = "Subject: " + std::string(kMaxHeaderFieldBytes, 'x') + "\n";
  header += "To: a@b.c\n";
  header += "X-Folded: start\n" + std::string(kMaxHeaderFieldBytes, ' ') + "\n more\n";
  std::string out;
  ASSERT_TRUE(CapHeaderFields(header, out));
  const size_t to = out.find("\nTo: a@b.c\n");
  ASSERT_NE(to, std::string::npos);
  EXPECT_EQ(to, kMaxHeaderFieldBytes);  // The Subject field, line break excluded, is exactly the cap.
  EXPECT_NE(out.find("X-Folded: start\n"), std::string::npos);
  EXPECT_EQ(out.find(" more"), std::string::npos);  // Continuations past the cap are dropped.
  EXPECT_FALSE(CapHeaderFields("Subject: short\nTo: a@b.c\n", out));
}

TEST(MimeRepair, NulsInHeaderBlocksOnly) {
  using namespace std::string_literals;
  const std::string in =
      "From: E\0v <e@x.org>\nContent-Type: multipart/mixed; boundary=b\n\nprologue \0 stays\n"
      "--b\nContent-Type: message/rfc822\nX-A: \0\n\nFrom: in\0ner <i@x.org>\n\ninner body \0 stays\n"
      "--b\nContent-Type: application/octet-stream\n\n\0\0data\n--b--\n"s;
  const std::string expected =
      "From: E\xEF\xBF\xBDv <e@x.org>\nContent-Type: multipart/mixed; boundary=b\n\nprologue \0 stays\n"
      "--b\nContent-Type: message/rfc822\nX-A: \xEF\xBF\xBD\n\nFrom: in\xEF\xBF\xBDner <i@x.org>\n\n"
      "inner body \0 stays\n--b\nContent-Type: application/octet-stream\n\n\0\0data\n--b--\n"s;
  std::string out;
  ASSERT_TRUE(ReplaceNulsInHeaders(in, out));
  EXPECT_EQ(out, expected);
  // Content alone holding NULs needs nothing.
  EXPECT_FALSE(ReplaceNulsInHeaders("From: a@b.c\n\nbinary \0 body\n"s, out));
  EXPECT_FALSE(ReplaceNulsInHeaders("From: a@b.c\n\nplain\n", out));
}

TEST(MimeRepair, HeaderSectionLength) {
  EXPECT_EQ(HeaderSectionLength("A: b\nC: d\n\nbody"), 10u);
  EXPECT_EQ(HeaderSectionLength("A: b\r\n\r\nbody"), 6u);
  EXPECT_EQ(HeaderSectionLength("A: b\nno end"), 11u);
  EXPECT_EQ(HeaderSectionLength("\nbody"), 0u);
  EXPECT_EQ(HeaderSectionLength(""), 0u);
}

}  // namespace
}  // namespace mime
