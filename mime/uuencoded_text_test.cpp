#include "mime/uuencoded_text.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/message_file.h"

namespace mime {
namespace {

// "hello, world\n" and "Second file\0\xff", uuencoded.
const std::string kHelloLine = "-:&5L;&\\L('=O<FQD\"@``";
const std::string kSecondLine = "-4V5C;VYD(&9I;&4`_P``";
const std::string kHello = "hello, world\n";
const std::string kSecond = std::string("Second file\0\xff", 13);

std::string Block(const std::string& name, const std::string& line, const std::string& eol = "\n") {
  return "begin 644 " + name + eol + line + eol + "`" + eol + "end" + eol;
}

// Both parsers build the model through the same code; each must give the same result.
class UuencodedBody : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { internal::ForceGMimeParser(GetParam()); }
  void TearDown() override { internal::ForceGMimeParser(false); }
};

TEST_P(UuencodedBody, OneBlockBetweenText) {
  const std::string head = "From: a@example.org\nSubject: file\n\n";
  const ParsedMessage m =
      ParseMessage(head + "Here it is:\n\n" + Block("hello.txt", kHelloLine) + "\nRegards,\nA.\n");
  EXPECT_EQ(m.text_body, "Here it is:\n\n\nRegards,\nA.\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].file_name, "hello.txt");
  EXPECT_EQ(m.attachments[0].mime_type, "application/octet-stream");
  EXPECT_EQ(m.attachments[0].data, kHello);
}

TEST_P(UuencodedBody, TwoBlocksWithCrLf) {
  const std::string head = "From: a@example.org\r\nSubject: files\r\n\r\n";
  const ParsedMessage m = ParseMessage(head + Block("a.txt", kHelloLine, "\r\n") + "between\r\n" +
                                       Block("b c.bin", kSecondLine, "\r\n"));
  EXPECT_EQ(m.text_body, "between\r\n");
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(m.attachments[0].file_name, "a.txt");
  EXPECT_EQ(m.attachments[0].data, kHello);
  EXPECT_EQ(m.attachments[1].file_name, "b c.bin");
  EXPECT_EQ(m.attachments[1].data, kSecond);
}

TEST_P(UuencodedBody, InsideMultipartPlainBodyAfterMimeAttachments) {
  const std::string m_text =
      "From: a@example.org\nSubject: mixed\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=XX\n\n--XX\nContent-Type: text/plain\n\nBody\n" +
      Block("hello.txt", kHelloLine) +
      "--XX\nContent-Type: application/octet-stream; name=x.bin\n\nabc\n--XX--\n";
  const ParsedMessage m = ParseMessage(m_text);
  EXPECT_EQ(m.text_body, "Body\n");
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(m.attachments[0].file_name, "x.bin");
  EXPECT_EQ(m.attachments[1].file_name, "hello.txt");
  EXPECT_EQ(m.attachments[1].data, kHello);
}

TEST_P(UuencodedBody, TextWithoutBlockUnchanged) {
  const std::string body = "begin 644 notes.txt\nthis is prose, not data\nend\n";
  const ParsedMessage m = ParseMessage("From: a@example.org\n\n" + body);
  EXPECT_EQ(m.text_body, body);
  EXPECT_TRUE(m.attachments.empty());
}

INSTANTIATE_TEST_SUITE_P(Parsers, UuencodedBody, ::testing::Values(false, true),
                         [](const auto& param_info) { return param_info.param ? "GMime" : "Structural"; });

// What must stay text: every line of it is kept, byte for byte.
TEST(MimeUuencodedText, LookalikesAndDamagedBlocksStay) {
  const std::string cases[] = {
      "begin 644 x.txt\n" + kHelloLine + "\n`\n",                    // No "end".
      "begin 644 x.txt\n" + kHelloLine + "\n`\nthe end\n",           // Not "end" after the zero line.
      "begin 644 x.txt\n" + kHelloLine + "\nhello there\n`\nend\n",  // A line of prose inside.
      "begin 64 x.txt\n" + kHelloLine + "\n`\nend\n",                // Mode of two digits.
      "begin 64444 x.txt\n" + kHelloLine + "\n`\nend\n",             // Mode of five digits.
      "begin 648 x.txt\n" + kHelloLine + "\n`\nend\n",               // Not octal.
      "begin 644\n" + kHelloLine + "\n`\nend\n",                     // No name.
      "begin 644 \n" + kHelloLine + "\n`\nend\n",                    // Blank name.
      " begin 644 x.txt\n" + kHelloLine + "\n`\nend\n",              // Indented.
      "> begin 644 x.txt\n> " + kHelloLine + "\n> `\n> end\n",       // Quoted in a reply.
      "begin 644 x.txt\n" + kHelloLine + "AAAAAAAA\n`\nend\n",       // Longer than its count allows.
      "begin 644 x.txt\n$:&D@(\n`\nend\n"                            // Short of its count of 4: fine...
  };
  for (size_t i = 0; i + 1 < std::size(cases); ++i) {
    std::string text = "Before\n" + cases[i] + "After\n";
    const std::string original = text;
    std::vector<Attachment> attachments;
    EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 0) << i;
    EXPECT_EQ(text, original) << i;
    EXPECT_TRUE(attachments.empty()) << i;
  }
  // ...which is the one shape above that is a block: a short line is read as if padded.
  std::string text = "Before\n" + cases[std::size(cases) - 1] + "After\n";
  std::vector<Attachment> attachments;
  EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 1);
  EXPECT_EQ(text, "Before\nAfter\n");
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].data, "hi  ");
}

TEST(MimeUuencodedText, BlockEdges) {
  // A damaged block does not hide a good one after it.
  std::string text = "begin 644 bad\nnot data\nend\n" + Block("good", kHelloLine);
  std::vector<Attachment> attachments;
  EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 1);
  EXPECT_EQ(text, "begin 644 bad\nnot data\nend\n");
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].data, kHello);

  // The last line without a line break, the zero line left out, a four-digit mode, an empty file.
  attachments.clear();
  text = "x\nbegin 0644 a\n" + kHelloLine + "\nend";
  EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 1);
  EXPECT_EQ(text, "x\n");
  attachments.clear();
  text = "begin 600 empty\n`\nend\nrest";
  EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 1);
  EXPECT_EQ(text, "rest");
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].file_name, "empty");
  EXPECT_TRUE(attachments[0].data.empty());

  // Trailing blanks a mailer left or stripped change nothing.
  attachments.clear();
  text = "begin 644 a  \n" + kHelloLine + "   \n\nend \n";
  EXPECT_EQ(ExtractUuencodedBlocks(text, attachments), 1);
  EXPECT_EQ(text, "");
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].file_name, "a");
  EXPECT_EQ(attachments[0].data, kHello);
}

}  // namespace
}  // namespace mime
