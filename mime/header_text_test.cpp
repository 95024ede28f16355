// Encoded-word decoding and the single-header interpretations.
#include <gtest/gtest.h>

#include "mime/encoded_words.h"
#include "mime/header_fields.h"

namespace mime {
namespace {

TEST(MimeHeaderText, EncodedWords) {
  EXPECT_EQ(DecodeHeaderText("plain text"), "plain text");
  EXPECT_EQ(DecodeHeaderText("=?utf-8?q?caf=C3=A9_au_lait?="), "café au lait");
  EXPECT_EQ(DecodeHeaderText("=?UTF-8?B?Y2Fmw6k=?="), "café");
  // Blanks and folding between two encoded words vanish; around text they stay.
  EXPECT_EQ(DecodeHeaderText("=?utf-8?q?a?= \r\n =?utf-8?q?b?= c =?utf-8?q?d?="), "ab c d");
  // A character split over two words, each decoded on its own before the bytes are joined.
  EXPECT_EQ(DecodeHeaderText("=?utf-8?b?4oI=?= =?utf-8?b?rA==?="), "€");
  EXPECT_EQ(DecodeHeaderText("=?iso-8859-1?q?caf=E9?= =?utf-8?q?=C3=A9?="), "caféé");
  // Glued to a word, RFC 2231 language tag, lower-case hex, missing padding.
  EXPECT_EQ(DecodeHeaderText("Re:=?utf-8?q?x?="), "Re:x");
  EXPECT_EQ(DecodeHeaderText("=?utf-8*en?q?hi?="), "hi");
  EXPECT_EQ(DecodeHeaderText("=?utf-8?q?=c3=a9?="), "é");
  EXPECT_EQ(DecodeHeaderText("=?utf-8?b?Y2Fmw6k?="), "café");
  // Malformed words stay as written; raw 8-bit text is read as UTF-8 or windows-1252.
  EXPECT_EQ(DecodeHeaderText("=?utf-8?x?abc?= =?utf-8?q?no end"), "=?utf-8?x?abc?= =?utf-8?q?no end");
  EXPECT_EQ(DecodeHeaderText("=?utf-8?q?has space?="), "=?utf-8?q?has space?=");
  EXPECT_EQ(DecodeHeaderText("Gr\xFC\xDF"
                             "e =?utf-8?q?=C3=BC?="),
            "Grüße ü");
  EXPECT_EQ(DecodeHeaderText("=?no-such-charset?q?caf=E9?="), "café");
}

TEST(MimeHeaderText, PlainParameters) {
  bool extended = true;
  EXPECT_EQ(PlainParameter("attachment; filename=\"a; b.txt\"; size=3", "FileName", &extended), "a; b.txt");
  EXPECT_FALSE(extended);
  EXPECT_EQ(PlainParameter("text/plain; charset=utf-8;\r\n name = report.txt", "name"), "report.txt");
  EXPECT_EQ(PlainParameter("text/plain; name=\"say \\\"hi\\\"\"", "name"), "say \"hi\"");
  EXPECT_EQ(PlainParameter("attachment; filename*=utf-8''a%20b", "filename", &extended), std::nullopt);
  EXPECT_TRUE(extended);
  EXPECT_EQ(PlainParameter("attachment; filename*0=a; filename*1=b", "filename", &extended), std::nullopt);
  EXPECT_TRUE(extended);
  EXPECT_EQ(PlainParameter("attachment; xfilename=a", "filename"), std::nullopt);
  EXPECT_EQ(PlainParameter("filename=first-piece-is-the-type", "filename"), std::nullopt);
}

TEST(MimeHeaderText, EncodedDisplayNames) {
  using Names = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(EncodedDisplayNames("=?UTF-8?B?TXlTdXJ2ZXk=?= =?UTF-8?B?LmNvbQ==?= <a@b.c>"),
            (Names{{"a@b.c", "MySurvey.com"}}));
  EXPECT_EQ(EncodedDisplayNames("\"Doe, =?utf-8?q?J=C3=BCrgen?=\" <j@d.e>, plain <p@q.r>, x@y.z"),
            (Names{{"j@d.e", "Doe, Jürgen"}}));
  // Groups are looked into; a comment is decoded like any other text before the bracket.
  EXPECT_EQ(EncodedDisplayNames("Team: =?utf-8?q?A=C3=A9?= <a@t.u>, b@t.u;, (=?x?q?c?=) <c@d>"),
            (Names{{"a@t.u", "Aé"}, {"c@d", "(c)"}}));
  EXPECT_TRUE(EncodedDisplayNames("undisclosed-recipients:;").empty());
  EXPECT_TRUE(EncodedDisplayNames("").empty());
}

TEST(MimeHeaderText, SubjectPrefix) {
  struct Case {
    const char* subject;
    size_t prefix;
  };
  const Case cases[] = {
      {"Re: hello", 4},  {"RE:hello", 3}, {"Fwd: x", 5}, {"AW:  Antwort", 5}, {"SV: x", 4},
      {"ΑΠ: x", 6},      {"Fw: ", 4},     {"hello", 0},  {"10:30 call", 0},   {"Re re: x", 0},
      {"Antwort: x", 0}, {"", 0},         {":x", 0},     {"Re", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SubjectPrefixLength(c.subject), c.prefix) << c.subject;
}

TEST(MimeHeaderText, ImportancePrioritySensitivity) {
  EXPECT_EQ(ImportanceFromImportanceHeader(" High "), Importance::kHigh);
  EXPECT_EQ(ImportanceFromImportanceHeader("low"), Importance::kLow);
  EXPECT_EQ(ImportanceFromImportanceHeader("Normal"), Importance::kNormal);
  EXPECT_EQ(ImportanceFromImportanceHeader("whatever"), std::nullopt);

  EXPECT_EQ(ImportanceFromXPriority("1 (Highest)"), Importance::kHigh);
  EXPECT_EQ(ImportanceFromXPriority("2"), Importance::kHigh);
  EXPECT_EQ(ImportanceFromXPriority("3 (Normal)"), Importance::kNormal);
  EXPECT_EQ(ImportanceFromXPriority("5 (Lowest)"), Importance::kLow);
  EXPECT_EQ(ImportanceFromXPriority("High"), Importance::kHigh);
  EXPECT_EQ(ImportanceFromXPriority(""), std::nullopt);

  EXPECT_EQ(ImportanceFromPriority("urgent"), Importance::kHigh);
  EXPECT_EQ(ImportanceFromPriority("non-urgent"), Importance::kLow);
  EXPECT_EQ(PriorityFromPriority("Urgent"), Priority::kUrgent);
  EXPECT_EQ(PriorityFromPriority("non-urgent"), Priority::kNonUrgent);
  EXPECT_EQ(PriorityFromPriority("bulk"), std::nullopt);

  EXPECT_EQ(SensitivityFromHeader("Personal"), Sensitivity::kPersonal);
  EXPECT_EQ(SensitivityFromHeader("private"), Sensitivity::kPrivate);
  EXPECT_EQ(SensitivityFromHeader("Company-Confidential"), Sensitivity::kConfidential);
  EXPECT_EQ(SensitivityFromHeader("secret"), Sensitivity::kNone);
}

}  // namespace
}  // namespace mime
