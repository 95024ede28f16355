#include "pst/import/message_state.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/message_file.h"
#include "pst/import/import_tags.h"
#include "pst/import/message_builder.h"

namespace pst::import {
namespace {

std::string Emlx(std::uint64_t flags) {
  const std::string message = "From: a@x.org\nSubject: kept by Apple Mail\n\nbody\n";
  return std::to_string(message.size()) + "\n" + message +
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>flags</key>\n\t<integer>" +
         std::to_string(flags) + "</integer>\n</dict>\n</plist>\n";
}

RecordedState StateOf(const std::string& bytes) { return RecordedStateOf(mime::ParseMessage(bytes)); }

std::string WithHeaders(const std::string& extra) {
  return "From: a@x.org\r\nSubject: s\r\n" + extra + "\r\nbody\r\n";
}

std::optional<std::int32_t> Int(const std::vector<messaging::Property>& props, ltp::PropTag tag) {
  for (const messaging::Property& p : props) {
    if (p.first != tag) continue;
    const auto& b = p.second.bytes();
    if (b.size() != 4) return std::nullopt;
    return static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24);
  }
  return std::nullopt;
}

TEST(MessageStateTest, AppleMailFlagBits) {
  // Unread and untouched: the read state is recorded as "not read", nothing else.
  RecordedState s = StateOf(Emlx(0));
  EXPECT_EQ(s.read, false);
  EXPECT_FALSE(s.flagged || s.answered || s.forwarded);
  // read 1<<0, answered 1<<2, flagged 1<<4, forwarded 1<<8; deleted, encrypted, recent and
  // draft (1<<1, 1<<3, 1<<5, 1<<6) and the attachment count above bit 10 change nothing here.
  s = StateOf(Emlx((1 << 0) | (1 << 2)));
  EXPECT_EQ(s.read, true);
  EXPECT_TRUE(s.answered);
  EXPECT_FALSE(s.flagged || s.forwarded);
  s = StateOf(Emlx((1 << 4) | (1 << 8) | (1 << 1) | (1 << 3) | (1 << 5) | (1 << 6) | (3 << 10)));
  EXPECT_EQ(s.read, false);
  EXPECT_TRUE(s.flagged);
  EXPECT_TRUE(s.forwarded);
  EXPECT_FALSE(s.answered);
  // The property list wins over headers that travelled with the message.
  const std::string message = "From: a@x.org\nStatus: O\nX-Mozilla-Status: 0000\n\nbody\n";
  s = StateOf(std::to_string(message.size()) + "\n" + message +
              "<?xml version=\"1.0\"?>\n<plist "
              "version=\"1.0\"><dict><key>flags</key><integer>1</integer></dict></plist>\n");
  EXPECT_EQ(s.read, true);
}

TEST(MessageStateTest, ThunderbirdAndMboxHeaders) {
  RecordedState s = StateOf(WithHeaders("X-Mozilla-Status: 0000\r\nX-Mozilla-Status2: 00010000\r\n"));
  EXPECT_EQ(s.read, false);
  s = StateOf(WithHeaders("X-Mozilla-Status: 1007\r\n"));  // read, replied, marked, forwarded
  EXPECT_EQ(s.read, true);
  EXPECT_TRUE(s.answered && s.flagged && s.forwarded);
  s = StateOf(WithHeaders("X-Mozilla-Status: 0009\r\n"));  // read and expunged: just read
  EXPECT_EQ(s.read, true);
  EXPECT_FALSE(s.answered || s.flagged || s.forwarded);
  // Thunderbird's own record wins over an mbox Status that came with the mail.
  s = StateOf(WithHeaders("Status: RO\r\nX-Mozilla-Status: 0004\r\n"));
  EXPECT_EQ(s.read, false);
  EXPECT_TRUE(s.flagged);
  // A value that is no hex number is not Thunderbird's: the Status header counts then.
  s = StateOf(WithHeaders("X-Mozilla-Status: yes\r\nStatus: RO\r\n"));
  EXPECT_EQ(s.read, true);

  s = StateOf(WithHeaders("Status: O\r\n"));  // seen by the mail program, never opened
  EXPECT_EQ(s.read, false);
  s = StateOf(WithHeaders("status:  RO\r\nX-Status: AF\r\n"));
  EXPECT_EQ(s.read, true);
  EXPECT_TRUE(s.answered && s.flagged);
  EXPECT_FALSE(s.forwarded);
  // X-Status alone records no read state.
  s = StateOf(WithHeaders("X-Status: F\r\n"));
  EXPECT_FALSE(s.read.has_value());
  EXPECT_TRUE(s.flagged);
  // A field whose name only begins like one of these, or a body line, is not read.
  s = StateOf("From: a@x.org\r\nStatus-Report: R\r\n\r\nStatus: O\r\n");
  EXPECT_FALSE(s.read.has_value());
  EXPECT_FALSE(StateOf(WithHeaders("")).read.has_value());
  // Nor is a folded line of another field that happens to read like one.
  s = StateOf("From: a@x.org\r\nSubject: order 456123 /\r\n status: 5\r\n\r\nbody\r\n");
  EXPECT_FALSE(s.read.has_value());
  // A folded Status value is read whole.
  s = StateOf("From: a@x.org\r\nX-Status: A\r\n F\r\n\r\nbody\r\n");
  EXPECT_TRUE(s.answered && s.flagged);
}

TEST(MessageStateTest, FlagsRuleAndOutlookProperties) {
  RecordedState none;
  RecordedState unread;
  unread.read = false;
  RecordedState read;
  read.read = true;
  // The caller's read bit stands when the source says nothing; the source's wins otherwise.
  EXPECT_EQ(MessageFlagsFor(tag::kMsgFlagRead | tag::kMsgFlagHasAttach, none, false), tag::kMsgFlagRead);
  EXPECT_EQ(MessageFlagsFor(tag::kMsgFlagRead | tag::kMsgFlagHasAttach, unread, true),
            tag::kMsgFlagHasAttach);
  EXPECT_EQ(MessageFlagsFor(0, read, false), tag::kMsgFlagRead);
  EXPECT_EQ(MessageFlagsFor(0x08 | 0x02, none, false), 0x02);  // never unsent; other bits kept

  std::vector<messaging::Property> props;
  AddStateProperties(read, &props);
  EXPECT_TRUE(props.empty());
  RecordedState all;
  all.flagged = all.answered = all.forwarded = true;
  AddStateProperties(all, &props);
  EXPECT_EQ(Int(props, tag::kFlagStatus), 2);
  EXPECT_EQ(Int(props, tag::kFollowupIcon), 6);
  EXPECT_EQ(Int(props, tag::kIconIndex), 0x105);
  EXPECT_EQ(Int(props, tag::kLastVerbExecuted), 102);
  props.clear();
  RecordedState forwarded;
  forwarded.forwarded = true;
  AddStateProperties(forwarded, &props);
  EXPECT_EQ(Int(props, tag::kIconIndex), 0x106);
  EXPECT_EQ(Int(props, tag::kLastVerbExecuted), 104);
  EXPECT_FALSE(Int(props, tag::kFlagStatus).has_value());
}

TEST(MessageStateTest, BuilderTakesTheTopMessagesStateOnly) {
  const std::string mail =
      "From: a@x.org\r\nSubject: outer\r\nX-Mozilla-Status: 0006\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n"
      "From: c@x.org\r\nSubject: inner\r\nStatus: RO\r\nX-Status: F\r\n\r\ninner body\r\n--b--\r\n";
  ImportOptions options;
  const mime::ParsedMessage parsed = mime::ParseMessage(mail);
  ImportedMessage built = BuildMessage(parsed, options);
  const auto& outer = built.message.props;
  EXPECT_EQ(Int(outer, tag::kMessageFlags), tag::kMsgFlagHasAttach);  // unread, one attachment
  EXPECT_EQ(Int(outer, tag::kFlagStatus), 2);
  EXPECT_EQ(Int(outer, tag::kIconIndex), 0x105);
  ASSERT_EQ(built.message.attachments.size(), 1u);
  ASSERT_NE(built.message.attachments[0].data.embedded(), nullptr);
  const auto& inner = built.message.attachments[0].data.embedded()->props;
  EXPECT_EQ(Int(inner, tag::kMessageFlags), tag::kMsgFlagRead);
  EXPECT_FALSE(Int(inner, tag::kFlagStatus).has_value());
  // The same for an attachment made later, as the store makes those of a message of many parts.
  const messaging::AttachmentContent later = BuildAttachment(parsed, 0, options);
  ASSERT_NE(later.data.embedded(), nullptr);
  EXPECT_EQ(Int(later.data.embedded()->props, tag::kMessageFlags), tag::kMsgFlagRead);
  EXPECT_FALSE(Int(later.data.embedded()->props, tag::kFlagStatus).has_value());
}

TEST(MessageStateTest, AFlaggedMessageCarriesOutlooksFollowUpText) {
  constexpr ltp::Guid kCommon = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  auto followUpText = [](const ImportedMessage& m, ltp::PropTag tag) -> std::string {
    for (const messaging::Property& p : m.message.props) {
      if (p.first != tag) continue;
      std::string text;
      for (std::size_t i = 0; i + 1 < p.second.bytes().size(); i += 2)
        text.push_back(static_cast<char>(p.second.bytes()[i]));
      return text;
    }
    return "<none>";
  };
  messaging::NameMap names;
  ImportOptions options;
  options.nameMap = &names;
  const ImportedMessage flagged = BuildMessage(mime::ParseMessage(WithHeaders("X-Status: F\r\n")), options);
  quill::Result<std::uint16_t> id = names.IdFor(kCommon, tag::kLidFlagRequest);
  ASSERT_TRUE(id.ok());
  EXPECT_EQ(names.size(), 1u) << "the lookup above must have found the builder's entry";
  const ltp::PropTag text = ltp::MakeTag(*id, ltp::PropType::kString);
  EXPECT_EQ(followUpText(flagged, text), "Follow up");

  // Resolved beforehand, as the store's read-ahead does, the same id is used.
  messaging::NameMap detached;
  ImportOptions ahead;
  ahead.nameMap = &detached;
  ASSERT_TRUE(DetachNameMap(ahead).ok());
  ASSERT_TRUE(ahead.flagRequestId.has_value());
  const ImportedMessage later =
      BuildMessage(mime::ParseMessage(WithHeaders("X-Mozilla-Status: 0005\r\n")), ahead);
  EXPECT_EQ(followUpText(later, ltp::MakeTag(*ahead.flagRequestId, ltp::PropType::kString)), "Follow up");

  // Unflagged: no text, and no name is taken for it.
  messaging::NameMap unused;
  options.nameMap = &unused;
  BuildMessage(mime::ParseMessage(WithHeaders("X-Status: A\r\n")), options);
  EXPECT_EQ(unused.size(), 0u);
}

}  // namespace
}  // namespace pst::import
