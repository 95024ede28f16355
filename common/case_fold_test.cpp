#include "common/case_fold.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(CaseFoldTest, NamesDifferingOnlyInCaseAreEqualInEveryScript) {
  EXPECT_TRUE(EqualIgnoringCase(u"Inbox", u"INBOX"));
  EXPECT_TRUE(EqualIgnoringCase(u"\u00C4rger", u"\u00E4rger"));                  // Ärger, ärger
  EXPECT_TRUE(EqualIgnoringCase(u"\u0394\u03A3", u"\u03B4\u03C3"));              // ΔΣ, δσ
  EXPECT_TRUE(EqualIgnoringCase(u"\u03C3", u"\u03C2"));                          // σ and final ς
  EXPECT_TRUE(EqualIgnoringCase(u"\u041F\u0420\u0418", u"\u043F\u0440\u0438"));  // ПРИ, при
  EXPECT_TRUE(EqualIgnoringCase(u"\uFF21", u"\uFF41"));                          // full-width A, a
  // Deseret, outside the BMP: the surrogate pairs are compared as the letters they encode.
  EXPECT_TRUE(EqualIgnoringCase(u"\U00010400", u"\U00010428"));
  EXPECT_TRUE(EqualIgnoringCase(u"", u""));
}

TEST(CaseFoldTest, DifferentNamesStayDifferent) {
  EXPECT_FALSE(EqualIgnoringCase(u"Inbox", u"Inbo"));
  EXPECT_FALSE(EqualIgnoringCase(u"Inbo", u"Inbox"));
  EXPECT_FALSE(EqualIgnoringCase(u"\u00C4", u"A"));             // Ä is no A
  EXPECT_FALSE(EqualIgnoringCase(u"Stra\u00DFe", u"STRASSE"));  // ß has no one-letter upper case
  EXPECT_FALSE(EqualIgnoringCase(u"\U00010400", u"\U00010401"));
  // A lone surrogate is itself: equal to itself only, never to the pair it starts.
  EXPECT_TRUE(EqualIgnoringCase(std::u16string_view(u"\xD801", 1), std::u16string_view(u"\xD801", 1)));
  EXPECT_FALSE(EqualIgnoringCase(std::u16string_view(u"\xD801", 1), u"\U00010400"));
  // The punctuation between the ASCII letter ranges is not folded onto them.
  EXPECT_FALSE(EqualIgnoringCase(u"[", u"{"));
  EXPECT_FALSE(EqualIgnoringCase(u"@", u"`"));
}

TEST(CaseFoldTest, UpperCaseOf) {
  EXPECT_EQ(UpperCaseOf(U'a'), U'A');
  EXPECT_EQ(UpperCaseOf(U'Z'), U'Z');
  EXPECT_EQ(UpperCaseOf(U'1'), U'1');
  EXPECT_EQ(UpperCaseOf(U'\u00E4'), U'\u00C4');
  EXPECT_EQ(UpperCaseOf(U'\u00FF'), U'\u0178');  // ÿ, whose capital lies outside Latin-1
  EXPECT_EQ(UpperCaseOf(U'\u00DF'), U'\u00DF');
  EXPECT_EQ(UpperCaseOf(U'\u4E2D'), U'\u4E2D');  // no case
}

}  // namespace
}  // namespace quill
