#include "mime/html_text.h"

#include <gtest/gtest.h>

namespace mime {
namespace {

TEST(MimeHtmlText, BlocksAndWhiteSpace) {
  EXPECT_EQ(HtmlToText("<p>one\n   two</p><p>three</p>"), "one two\n\nthree");
  EXPECT_EQ(HtmlToText("a<br>b<br/><br />c"), "a\nb\n\nc");
  EXPECT_EQ(HtmlToText("<table><tr><td>x</td><td>y</td></tr><tr><td>z</td></tr></table>"), "x\ty\t\nz\t");
  EXPECT_EQ(HtmlToText("<pre>  keep\n  this</pre>after"), "  keep\n  this\nafter");
}

TEST(MimeHtmlText, HiddenContentIsDropped) {
  EXPECT_EQ(HtmlToText("<html><head><title>T</title><style>p{}</style></head><body>shown</body></html>"),
            "shown");
  EXPECT_EQ(HtmlToText("a<script type=\"x\">if (a < b) document.write('<p>x</p>');</script>b"), "ab");
  EXPECT_EQ(HtmlToText("a<!-- <p>no</p> -->b"), "ab");
  EXPECT_EQ(HtmlToText("<a href=\"x>y\" title='>'>link</a>"), "link");
}

TEST(MimeHtmlText, CharacterReferences) {
  EXPECT_EQ(HtmlToText("&lt;tag&gt; &amp; &quot;q&quot; &#233; &#x20AC; caf&eacute;"),
            "<tag> & \"q\" é € café");
  EXPECT_EQ(HtmlToText("a&nbsp;b"), "a b");
  // Unknown or broken references stay as written.
  EXPECT_EQ(HtmlToText("&bogus; & a&#xZZ; &#99999999999;"), "&bogus; & a&#xZZ; &#99999999999;");
  EXPECT_EQ(HtmlToText("&#0;"), "\xEF\xBF\xBD");
}

TEST(MimeHtmlText, MalformedMarkupEnds) {
  EXPECT_EQ(HtmlToText("a < b and c > d"), "a < b and c > d");
  EXPECT_EQ(HtmlToText("text<p unterminated"), "text");
  EXPECT_EQ(HtmlToText("<script>never closed"), "");
  EXPECT_EQ(HtmlToText("x<!-- never closed"), "x");
  EXPECT_EQ(HtmlToText(""), "");
}

}  // namespace
}  // namespace mime
