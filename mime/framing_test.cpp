#include "mime/framing.h"

#include <gtest/gtest.h>

#include <string>

namespace mime {
namespace {

const std::string kMessage = "From: a@example.org\nSubject: x\n\nbody\n";
const std::string kPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n\t<key>flags</key>\n\t<integer>17</integer>\n</dict>\n</plist>\n";

std::string_view Body(std::string_view data, const MessageFrame& f) {
  return data.substr(f.begin, f.end - f.begin);
}

TEST(MimeFraming, PlainFilesPassThrough) {
  const MessageFrame f = LocateMessage(kMessage);
  EXPECT_EQ(Body(kMessage, f), kMessage);
  EXPECT_FALSE(f.emlx);
  EXPECT_FALSE(f.flags.has_value());
  EXPECT_TRUE(f.notes.empty());

  const std::string empty;
  const MessageFrame e = LocateMessage(empty);
  EXPECT_EQ(e.begin, 0u);
  EXPECT_EQ(e.end, 0u);
}

TEST(MimeFraming, MboxLineAndByteOrderMark) {
  const std::string mbox = "From someone@example.org Thu Mar  5 10:00:00 2026\n" + kMessage;
  EXPECT_EQ(Body(mbox, LocateMessage(mbox)), kMessage);
  const std::string bom = "\xEF\xBB\xBF" + kMessage;
  EXPECT_EQ(Body(bom, LocateMessage(bom)), kMessage);
  const std::string both =
      "\xEF\xBB\xBF"
      "From someone@example.org Thu Mar  5 10:00:00 2026\r\n" +
      kMessage;
  EXPECT_EQ(Body(both, LocateMessage(both)), kMessage);
  // "From:" is a header, not an mbox separator.
  EXPECT_EQ(LocateMessage(kMessage).begin, 0u);
}

TEST(MimeFraming, EmlxByteCount) {
  struct Case {
    std::string count_line;
    bool repaired;
  };
  const Case cases[] = {
      {std::to_string(kMessage.size()) + "\n", false},
      {std::to_string(kMessage.size()) + "      \r\n", false},
      {"99999\n", true},                                    // Beyond the end of the file.
      {std::to_string(kMessage.size() - 10) + "\n", true},  // Ends inside the message.
      {std::to_string(kMessage.size() + 3) + "\n", true},   // Ends inside the property list.
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count_line);
    const std::string data = c.count_line + kMessage + kPlist;
    const MessageFrame f = LocateMessage(data);
    EXPECT_TRUE(f.emlx);
    EXPECT_EQ(Body(data, f), kMessage);
    EXPECT_EQ(f.notes.empty(), !c.repaired);
    ASSERT_TRUE(f.flags.has_value());
    EXPECT_EQ(f.flags->raw, 17u);
    EXPECT_TRUE(f.flags->read);
    EXPECT_TRUE(f.flags->flagged);
  }
}

TEST(MimeFraming, EmlxWithoutCountOrPropertyList) {
  const std::string no_count = kMessage + kPlist;
  MessageFrame f = LocateMessage(no_count);
  EXPECT_TRUE(f.emlx);
  EXPECT_EQ(Body(no_count, f), kMessage);
  EXPECT_TRUE(f.flags.has_value());

  const std::string no_plist = std::to_string(kMessage.size() + 50) + "\n" + kMessage;
  f = LocateMessage(no_plist);
  EXPECT_EQ(Body(no_plist, f), kMessage);
  EXPECT_FALSE(f.flags.has_value());

  // An XHTML body names an XML declaration too; with no plist after it, nothing is cut.
  const std::string xhtml = "From: a@example.org\n\n<?xml version=\"1.0\"?>\n<html></html>\n";
  const std::string data = "999\n" + xhtml;
  EXPECT_EQ(Body(data, LocateMessage(data)), xhtml);
}

TEST(MimeFraming, EmlxFlagBits) {
  auto flags = ParseEmlxFlags("<key>flags</key><integer>8590195729</integer>");
  ASSERT_TRUE(flags.has_value());
  EXPECT_EQ(flags->raw, 8590195729u);  // Above 32 bits, as Apple Mail writes them.
  EXPECT_TRUE(flags->read);
  EXPECT_TRUE(flags->flagged);
  EXPECT_FALSE(flags->deleted);

  flags = ParseEmlxFlags("<key>flags</key>\n  <integer> 4 </integer>");
  ASSERT_TRUE(flags.has_value());
  EXPECT_TRUE(flags->answered);
  EXPECT_FALSE(flags->read);
  flags = ParseEmlxFlags("<key>flags</key><integer>320</integer>");
  ASSERT_TRUE(flags.has_value());
  EXPECT_TRUE(flags->draft);
  EXPECT_TRUE(flags->forwarded);

  EXPECT_FALSE(ParseEmlxFlags("<key>remote-id</key><integer>5</integer>").has_value());
  EXPECT_FALSE(ParseEmlxFlags("<key>flags</key><string>x</string><integer>5</integer>").has_value());
  EXPECT_FALSE(ParseEmlxFlags("<key>flags</key><integer>many</integer>").has_value());
}

}  // namespace
}  // namespace mime
