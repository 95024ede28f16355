#include "pst/import/message_builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "common/text.h"
#include "mime/message_file.h"
#include "pst/import/entry_ids.h"
#include "pst/import/import_tags.h"
#include "pst/import/message_class.h"

namespace pst::import {
namespace {

using messaging::Property;

constexpr std::chrono::sys_seconds kFileTime{std::chrono::seconds(1600000000)};  // 2020-09-13 12:26:40
constexpr std::chrono::sys_seconds kNow{std::chrono::seconds(1700000000)};

const ltp::PropValue* Find(const std::vector<Property>& props, ltp::PropTag tag) {
  const ltp::PropValue* found = nullptr;
  for (const Property& p : props) {
    if (p.first == tag) {
      EXPECT_EQ(found, nullptr) << "tag 0x" << std::hex << tag << " given twice";
      found = &p.second;
    }
  }
  return found;
}

std::optional<std::string> Text(const std::vector<Property>& props, ltp::PropTag tag) {
  const ltp::PropValue* v = Find(props, tag);
  if (v == nullptr) return std::nullopt;
  std::u16string s;
  for (std::size_t i = 0; i + 1 < v->bytes().size(); i += 2) {
    s.push_back(static_cast<char16_t>(v->bytes()[i] | (v->bytes()[i + 1] << 8)));
  }
  return quill::Utf16ToUtf8(s);
}

std::optional<std::int64_t> Number(const std::vector<Property>& props, ltp::PropTag tag) {
  const ltp::PropValue* v = Find(props, tag);
  if (v == nullptr) return std::nullopt;
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < v->bytes().size() && i < 8; ++i) n |= std::uint64_t{v->bytes()[i]} << (8 * i);
  if (v->bytes().size() == 4) return static_cast<std::int32_t>(n);
  return static_cast<std::int64_t>(n);
}

std::optional<std::vector<std::uint8_t>> Bytes(const std::vector<Property>& props, ltp::PropTag tag) {
  const ltp::PropValue* v = Find(props, tag);
  if (v == nullptr) return std::nullopt;
  return v->bytes();
}

std::int64_t FileTimeOf(std::int64_t unixSeconds) { return (unixSeconds + 11644473600LL) * 10000000LL; }

ImportedMessage Build(std::string_view mail, messaging::NameMap* nameMap = nullptr) {
  ImportOptions options;
  options.fileModified = kFileTime;
  options.now = kNow;
  options.nameMap = nameMap;
  return BuildMessage(mime::ParseMessage(mail), options);
}

TEST(MessageBuilderTest, SubjectSplitAndConversation) {
  const ImportedMessage reply = Build(
      "From: a@x.org\r\nSubject: RE: Budget\r\nMessage-ID: <2@x>\r\nIn-Reply-To: <1@x>\r\n"
      "References: <1@x>\r\nDate: Tue, 03 Mar 2020 09:14:00 +0000\r\n\r\nbody\r\n");
  const ImportedMessage original = Build(
      "From: b@x.org\r\nSubject: Budget\r\nMessage-ID: <1@x>\r\nDate: Mon, 02 Mar 2020 09:00:00 "
      "+0000\r\n\r\nbody\r\n");
  const std::vector<Property>& p = reply.message.props;
  // U+0001, prefix length + 1, then the subject: readers take the split from the marker.
  EXPECT_EQ(Text(p, tag::kSubject), std::string("\x01\x05RE: Budget"));
  EXPECT_EQ(Text(p, tag::kSubjectPrefix), "RE: ");
  EXPECT_EQ(Text(p, tag::kNormalizedSubject), "Budget");
  EXPECT_EQ(Text(p, tag::kConversationTopic), "Budget");
  EXPECT_EQ(Text(p, tag::kMessageClass), "IPM.Note");
  EXPECT_EQ(Text(original.message.props, tag::kSubject), std::string("\x01\x01"
                                                                     "Budget"));
  EXPECT_EQ(Find(original.message.props, tag::kSubjectPrefix), nullptr);

  const auto replyIndex = *Bytes(p, tag::kConversationIndex);
  const auto originalIndex = *Bytes(original.message.props, tag::kConversationIndex);
  ASSERT_EQ(originalIndex.size(), 22u);
  ASSERT_EQ(replyIndex.size(), 27u);
  EXPECT_TRUE(std::equal(originalIndex.begin(), originalIndex.end(), replyIndex.begin()))
      << "a reply must land in its original's conversation, one level below it";
  EXPECT_EQ(Number(p, tag::kConversationIndexTracking), 1);
  EXPECT_EQ(Number(p, tag::kMessageEditorFormat), tag::kEditorFormatPlainText);

  EXPECT_EQ(Text(p, tag::kInternetMessageId), "<2@x>");
  EXPECT_EQ(Text(p, tag::kInReplyToId), "<1@x>");
  EXPECT_EQ(Text(p, tag::kInternetReferences), "<1@x>");

  // A subject that itself starts with U+0001 keeps it after the marker instead of being misread.
  const ImportedMessage odd = Build("From: a@x\r\nSubject: =?utf-8?Q?=01=05abc?=\r\n\r\nx\r\n");
  EXPECT_EQ(Text(odd.message.props, tag::kSubject), std::string("\x01\x01\x01\x05"
                                                                "abc"));
}

TEST(MessageBuilderTest, SenderAndSentRepresenting) {
  const ImportedMessage viaList = Build(
      "From: =?UTF-8?Q?Ren=C3=A9e?= <renee@example.org>\r\nSender: Robot <Robot@Lists.example.org>\r\n"
      "Subject: s\r\n\r\nx\r\n");
  const std::vector<Property>& p = viaList.message.props;
  EXPECT_EQ(Text(p, tag::kSenderName), "Robot");
  EXPECT_EQ(Text(p, tag::kSenderEmailAddress), "Robot@Lists.example.org");
  EXPECT_EQ(Text(p, tag::kSenderSmtpAddress), "Robot@Lists.example.org");
  EXPECT_EQ(Text(p, tag::kSenderAddressType), "SMTP");
  EXPECT_EQ(Bytes(p, tag::kSenderEntryId), OneOffEntryId("Robot", "SMTP", "Robot@Lists.example.org"));
  EXPECT_EQ(Bytes(p, tag::kSenderSearchKey), SmtpSearchKey("Robot@Lists.example.org"));
  EXPECT_EQ(Text(p, tag::kSentRepresentingName),
            "Ren\xC3\xA9"
            "e");
  EXPECT_EQ(Text(p, tag::kSentRepresentingEmailAddress), "renee@example.org");
  EXPECT_EQ(Text(p, tag::kSentRepresentingSmtpAddress), "renee@example.org");
  EXPECT_EQ(Bytes(p, tag::kSentRepresentingEntryId), OneOffEntryId("Ren\xC3\xA9"
                                                                   "e",
                                                                   "SMTP", "renee@example.org"));
  EXPECT_EQ(Bytes(p, tag::kSentRepresentingSearchKey), SmtpSearchKey("renee@example.org"));

  // Without Sender the author sent it; a bare address is its own display name.
  const ImportedMessage direct = Build("From: solo@example.net\r\nSubject: s\r\n\r\nx\r\n");
  EXPECT_EQ(Text(direct.message.props, tag::kSenderName), "solo@example.net");
  EXPECT_EQ(Text(direct.message.props, tag::kSentRepresentingName), "solo@example.net");
  EXPECT_EQ(Text(direct.message.props, tag::kSenderEmailAddress), "solo@example.net");

  // Nobody named at all: no sender properties rather than empty ones.
  const ImportedMessage anonymous = Build("Subject: s\r\n\r\nx\r\n");
  EXPECT_EQ(Find(anonymous.message.props, tag::kSenderName), nullptr);
  EXPECT_EQ(Find(anonymous.message.props, tag::kSentRepresentingEntryId), nullptr);
}

TEST(MessageBuilderTest, RecipientRowsAndDisplayStrings) {
  const ImportedMessage m = Build(
      "From: a@x.org\r\nTo: Bob Smith <bob@example.com>, carol@example.com\r\n"
      "Cc: \"Dave, Jr.\" <dave@example.com>, undisclosed-recipients:;\r\nBcc: eve@example.com\r\n"
      "Subject: s\r\n\r\nx\r\n");
  const std::vector<Property>& p = m.message.props;
  EXPECT_EQ(Text(p, tag::kDisplayTo), "Bob Smith; carol@example.com");
  EXPECT_EQ(Text(p, tag::kDisplayCc), "Dave, Jr.");
  EXPECT_EQ(Text(p, tag::kDisplayBcc), "eve@example.com");
  ASSERT_EQ(m.message.recipients.size(), 4u);

  struct Want {
    std::int64_t type;
    const char* name;
    const char* address;
  } want[] = {{1, "Bob Smith", "bob@example.com"},
              {1, "carol@example.com", "carol@example.com"},
              {2, "Dave, Jr.", "dave@example.com"},
              {3, "eve@example.com", "eve@example.com"}};
  std::set<std::int64_t> rowIds;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::vector<Property>& r = m.message.recipients[i].props;
    SCOPED_TRACE(want[i].address);
    EXPECT_EQ(Number(r, tag::kRecipientType), want[i].type);
    EXPECT_EQ(Text(r, tag::kDisplayName), want[i].name);
    EXPECT_EQ(Text(r, tag::kEmailAddress), want[i].address);
    EXPECT_EQ(Text(r, tag::kSmtpAddress), want[i].address);
    EXPECT_EQ(Text(r, tag::kAddressType), "SMTP");
    EXPECT_EQ(Bytes(r, tag::kEntryId), OneOffEntryId(want[i].name, "SMTP", want[i].address));
    EXPECT_EQ(Bytes(r, tag::kSearchKey), SmtpSearchKey(want[i].address));
    EXPECT_EQ(Number(r, tag::kObjectType), tag::kObjectTypeMailUser);
    EXPECT_EQ(Number(r, tag::kDisplayType), tag::kDisplayTypeMailUser);
    EXPECT_EQ(Number(r, tag::kResponsibility), 0);
    rowIds.insert(*Number(r, tag::kRowId));
  }
  EXPECT_EQ(rowIds.size(), 4u);

  const ImportedMessage none =
      Build("From: a@x.org\r\nTo: undisclosed-recipients:;\r\nSubject: s\r\n\r\nx\r\n");
  EXPECT_TRUE(none.message.recipients.empty());
  EXPECT_EQ(Find(none.message.props, tag::kDisplayTo), nullptr);
}

TEST(MessageBuilderTest, ReplyToBecomesFlatEntryList) {
  const ImportedMessage m =
      Build("From: a@x.org\r\nReply-To: Replies <r@x.org>, s@x.org\r\nSubject: s\r\n\r\nx\r\n");
  EXPECT_EQ(Text(m.message.props, tag::kReplyRecipientNames), "Replies; s@x.org");
  const std::vector<std::uint8_t> want = FlatEntryList(
      {OneOffEntryId("Replies", "SMTP", "r@x.org"), OneOffEntryId("s@x.org", "SMTP", "s@x.org")});
  EXPECT_EQ(Bytes(m.message.props, tag::kReplyRecipientEntries), want);

  const ImportedMessage none = Build("From: a@x.org\r\nSubject: s\r\n\r\nx\r\n");
  EXPECT_EQ(Find(none.message.props, tag::kReplyRecipientEntries), nullptr);
}

TEST(MessageBuilderTest, TimesFallBackFromReceivedToDateToFile) {
  const char* kReceived =
      "Received: from b by c; Tue, 03 Mar 2020 10:15:30 +0100\r\n"
      "Received: from a by b; Tue, 03 Mar 2020 10:15:00 +0100\r\n";
  const char* kDate = "Date: Tue, 03 Mar 2020 09:14:00 +0100\r\n";
  const std::int64_t received = FileTimeOf(1583226930);  // 09:15:30 UTC, the newest hop
  const std::int64_t date = FileTimeOf(1583223240);      // 08:14:00 UTC
  const std::int64_t file = FileTimeOf(1600000000);
  struct Case {
    bool withReceived, withDate;
    std::int64_t submit, delivery;
  } cases[] = {{true, true, date, received},
               {true, false, received, received},
               {false, true, date, date},
               {false, false, file, file}};
  for (const Case& c : cases) {
    std::string mail = std::string(c.withReceived ? kReceived : "") + (c.withDate ? kDate : "") +
                       "From: a@x\r\nSubject: t\r\n\r\nx\r\n";
    const ImportedMessage m = Build(mail);
    SCOPED_TRACE(mail);
    EXPECT_EQ(Number(m.message.props, tag::kClientSubmitTime), c.submit);
    EXPECT_EQ(Number(m.message.props, tag::kMessageDeliveryTime), c.delivery);
    EXPECT_EQ(Number(m.message.props, tag::kCreationTime), FileTimeOf(1700000000));
    EXPECT_EQ(Number(m.message.props, tag::kLastModificationTime), FileTimeOf(1700000000));
  }
  EXPECT_EQ(ToFileTime(std::chrono::sys_seconds(std::chrono::seconds(-11644473600LL - 5))), 0u);
  EXPECT_EQ(ToFileTime(std::chrono::sys_seconds{}), 116444736000000000ULL);
}

TEST(MessageBuilderTest, HeadersFlagsAndMarkings) {
  const std::string mail =
      "From: a@x\r\nSubject: t\r\nImportance: high\r\nX-Priority: 1 (Highest)\r\n"
      "Priority: urgent\r\nSensitivity: Company-Confidential\r\n\r\nx\r\n";
  const ImportedMessage m = Build(mail);
  const std::vector<Property>& p = m.message.props;
  EXPECT_EQ(Number(p, tag::kImportance), 2);
  EXPECT_EQ(Number(p, tag::kPriority), 1);
  EXPECT_EQ(Number(p, tag::kSensitivity), 3);
  EXPECT_EQ(Number(p, tag::kMessageFlags), tag::kMsgFlagRead);  // read, never unsent
  EXPECT_EQ(Text(p, tag::kTransportMessageHeaders), mail.substr(0, mail.find("\r\n\r\n") + 2));

  // Apple Mail's unread state survives; its read state too.
  mime::ParsedMessage unread = mime::ParseMessage("From: a@x\r\nSubject: t\r\n\r\nx\r\n");
  unread.emlx_flags = mime::EmlxFlags{};
  ImportOptions options;
  EXPECT_EQ(Number(BuildMessage(unread, options).message.props, tag::kMessageFlags), 0);
  unread.emlx_flags->read = true;
  EXPECT_EQ(Number(BuildMessage(unread, options).message.props, tag::kMessageFlags), tag::kMsgFlagRead);
}

TEST(MessageBuilderTest, BodiesAndCodePage) {
  const ImportedMessage m = Build(
      "From: a@x\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; "
      "boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nGr\xC3\xBC\xC3\x9F"
      "e\r\n"
      "--b\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<p>Gr\xFC\xDF"
      "e</p>\r\n--b--\r\n");
  const std::vector<Property>& p = m.message.props;
  ASSERT_TRUE(Text(p, tag::kBody).has_value());
  EXPECT_EQ(Text(p, tag::kBody)->substr(0, 7),
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  const std::optional<std::vector<std::uint8_t>> html = Bytes(p, tag::kHtml);
  ASSERT_TRUE(html.has_value());
  const std::string htmlText(html->begin(), html->end());
  EXPECT_EQ(htmlText.substr(0, 12),
            "<p>Gr\xFC\xDF"
            "e</p>")
      << "PR_HTML keeps the bytes as sent";
  EXPECT_EQ(Number(p, tag::kMessageEditorFormat), tag::kEditorFormatHtml)
      << "replies open in the HTML editor";
  EXPECT_EQ(Number(p, tag::kInternetCodepage), 28591);

  const ImportedMessage plain = Build("From: a@x\r\nSubject: t\r\n\r\nonly text\r\n");
  EXPECT_EQ(Find(plain.message.props, tag::kHtml), nullptr);
  EXPECT_EQ(Find(plain.message.props, tag::kInternetCodepage), nullptr);
}

constexpr const char* kRelatedMail =
    "From: a@x\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n"
    "--o\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
    "--r\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<img src=\"cid:pic@x\">\r\n"
    "--r\r\nContent-Type: image/png\r\nContent-ID: <pic@x>\r\nContent-Transfer-Encoding: "
    "base64\r\n\r\nAAEC\r\n"
    "--r--\r\n"
    "--o\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"../Board report "
    "2020.pdf\"\r\n"
    "Content-Location: http://x/r.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--o--\r\n";

TEST(MessageBuilderTest, AttachmentsByValue) {
  messaging::NameMap names;
  const ImportedMessage m = Build(kRelatedMail, &names);
  ASSERT_EQ(m.message.attachments.size(), 2u);

  const messaging::AttachmentContent& picture = m.message.attachments[0];
  ASSERT_EQ(picture.data.kind(), messaging::AttachmentData::Kind::kBytes);
  EXPECT_EQ(std::vector<std::uint8_t>(picture.data.bytes().begin(), picture.data.bytes().end()),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x02}));
  EXPECT_EQ(Number(picture.props, tag::kAttachMethod), tag::kAttachByValue);
  EXPECT_EQ(Text(picture.props, tag::kAttachLongFilename), "ATT00001.png");
  EXPECT_EQ(Text(picture.props, tag::kAttachFilename), "ATT00001.png");
  EXPECT_EQ(Text(picture.props, tag::kAttachExtension), ".png");
  EXPECT_EQ(Text(picture.props, tag::kAttachMimeTag), "image/png");
  EXPECT_EQ(Text(picture.props, tag::kAttachContentId), "pic@x");
  EXPECT_EQ(Number(picture.props, tag::kAttachmentHidden), 1);
  EXPECT_EQ(Number(picture.props, tag::kAttachFlags), tag::kAttachFlagMhtmlRef);
  EXPECT_EQ(Number(picture.props, tag::kRenderingPosition), -1);

  const messaging::AttachmentContent& pdf = m.message.attachments[1];
  EXPECT_EQ(std::string(pdf.data.bytes().begin(), pdf.data.bytes().end()), "%PDF");
  EXPECT_EQ(Text(pdf.props, tag::kAttachLongFilename), "Board report 2020.pdf");  // no path escapes
  EXPECT_EQ(Text(pdf.props, tag::kDisplayName), "Board report 2020.pdf");
  EXPECT_EQ(Text(pdf.props, tag::kAttachFilename), "BOARDR~1.PDF");
  EXPECT_EQ(Text(pdf.props, tag::kAttachContentLocation), "http://x/r.pdf");
  EXPECT_EQ(Number(pdf.props, tag::kAttachmentHidden), 0);
  EXPECT_EQ(Find(pdf.props, tag::kAttachFlags), nullptr);

  // One visible attachment: Outlook shows the paper clip.
  quill::Result<std::uint16_t> id = names.IdFor(
      {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46},
      tag::kLidSmartNoAttach);
  ASSERT_TRUE(id.ok());
  EXPECT_EQ(names.size(), 1u) << "the lookup above must have found the builder's entry";
  EXPECT_EQ(Number(m.message.props, ltp::MakeTag(*id, ltp::PropType::kBoolean)), 0);
}

TEST(MessageBuilderTest, OnlyHiddenPicturesSetSmartNoAttach) {
  messaging::NameMap names;
  const ImportedMessage m = Build(
      "From: a@x\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/html\r\n\r\n<img src=\"cid:logo\">\r\n"
      "--r\r\nContent-Type: image/gif\r\nContent-ID: <logo>\r\n\r\nGIF\r\n--r--\r\n",
      &names);
  ASSERT_EQ(m.message.attachments.size(), 1u);
  ASSERT_EQ(names.size(), 1u);
  const ltp::PropTag smartNoAttach = ltp::MakeTag(0x8000, ltp::PropType::kBoolean);
  EXPECT_EQ(Number(m.message.props, smartNoAttach), 1);

  // Without a name map nothing named is written; without attachments nothing is needed.
  const ImportedMessage unnamed = Build(kRelatedMail);
  for (const Property& p : unnamed.message.props) EXPECT_LT(ltp::PropIdOf(p.first), 0x8000);
  messaging::NameMap unused;
  Build("From: a@x\r\nSubject: t\r\n\r\nx\r\n", &unused);
  EXPECT_EQ(unused.size(), 0u);
}

TEST(MessageBuilderTest, AttachedMessagesAreBuiltRecursively) {
  const ImportedMessage m = Build(
      "From: f@x\r\nSubject: Fwd: Inner\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; "
      "boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
      "--b\r\nContent-Type: application/octet-stream; name=a.bin\r\n\r\nAB\r\n"
      "--b\r\nContent-Type: message/rfc822\r\n\r\n"
      "From: Origin <o@x>\r\nTo: f@x\r\nSubject: Inner\r\nDate: Wed, 01 Jan 2025 07:00:00 +0000\r\n\r\nInner "
      "body\r\n"
      "--b--\r\n");
  ASSERT_EQ(m.message.attachments.size(), 2u);
  EXPECT_EQ(m.message.attachments[0].data.kind(), messaging::AttachmentData::Kind::kBytes);
  const messaging::AttachmentContent& holder = m.message.attachments[1];
  ASSERT_EQ(holder.data.kind(), messaging::AttachmentData::Kind::kEmbedded);
  EXPECT_EQ(Number(holder.props, tag::kAttachMethod), tag::kAttachEmbeddedMessage);
  EXPECT_EQ(Text(holder.props, tag::kAttachLongFilename), "Inner.eml");
  EXPECT_EQ(Text(holder.props, tag::kDisplayName), "Inner");
  EXPECT_EQ(Text(holder.props, tag::kAttachMimeTag), "message/rfc822");
  EXPECT_TRUE(holder.data.bytes().empty());

  // A subject with characters file names cannot hold keeps all its text in the file name.
  const ImportedMessage cut = Build(
      "From: f@x\r\nSubject: Fwd\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: message/rfc822\r\n\r\n"
      "From: o@x\r\nSubject: Q3 figures 2024/25: final?\r\n\r\nInner body\r\n"
      "--b--\r\n");
  ASSERT_EQ(cut.message.attachments.size(), 1u);
  EXPECT_EQ(Text(cut.message.attachments[0].props, tag::kAttachLongFilename),
            "Q3 figures 2024_25_ final_.eml");
  EXPECT_EQ(Text(cut.message.attachments[0].props, tag::kDisplayName), "Q3 figures 2024/25: final?");

  const messaging::MessageContent& inner = *holder.data.embedded();
  EXPECT_EQ(Text(inner.props, tag::kSubject), std::string("\x01\x01"
                                                          "Inner"));
  EXPECT_EQ(Text(inner.props, tag::kSenderName), "Origin");
  EXPECT_EQ(Number(inner.props, tag::kClientSubmitTime), FileTimeOf(1735714800));
  ASSERT_EQ(inner.recipients.size(), 1u);
  EXPECT_EQ(Text(inner.props, tag::kBody)->substr(0, 10), "Inner body");
}

// S/MIME: the class by which Outlook finds the protected entity in the one attachment, and for an
// opaque message its Content-Type kept under PS_INTERNET_HEADERS, looked up by name or resolved
// beforehand as the store's read-ahead does.
TEST(MessageBuilderTest, SmimeMessagesGetTheirClassAndContentType) {
  const std::string head = "From: a@example.org\r\nSubject: s\r\nMIME-Version: 1.0\r\n";
  const std::string clear =
      head +
      "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n"
      "--b\r\nContent-Type: application/pkcs7-signature\r\nContent-Transfer-Encoding: "
      "base64\r\n\r\nMIIB\r\n--b--\r\n";
  const std::string opaque =
      head +
      "Content-Type: application/pkcs7-mime;\r\n smime-type=enveloped-data; name=smime.p7m\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nMIIBAgMEBQ==\r\n";
  messaging::NameMap names;
  const ImportedMessage signedMessage = Build(clear, &names);
  EXPECT_EQ(Text(signedMessage.message.props, tag::kMessageClass), "IPM.Note.SMIME.MultipartSigned");
  EXPECT_EQ(Text(signedMessage.message.props, tag::kBody), "signed text");
  ASSERT_EQ(signedMessage.message.attachments.size(), 1u);
  EXPECT_EQ(Text(signedMessage.message.attachments[0].props, tag::kAttachMimeTag), "multipart/signed");
  EXPECT_EQ(Text(signedMessage.message.attachments[0].props, tag::kAttachLongFilename), "smime.p7m");
  EXPECT_EQ(Number(signedMessage.message.attachments[0].props, tag::kAttachMethod), tag::kAttachByValue);
  EXPECT_EQ(names.size(), 1u)
      << "only the has-attachments name; a clear-signed message keeps no Content-Type";

  const ImportedMessage opaqueMessage = Build(opaque, &names);
  EXPECT_EQ(Text(opaqueMessage.message.props, tag::kMessageClass), "IPM.Note.SMIME");
  EXPECT_EQ(Find(opaqueMessage.message.props, tag::kBody), nullptr);
  quill::Result<std::uint16_t> id = names.IdFor(kPsInternetHeaders, u"Content-Type");
  ASSERT_TRUE(id.ok());
  EXPECT_EQ(names.size(), 2u) << "the lookup above must have found the builder's entry";
  EXPECT_EQ(Text(opaqueMessage.message.props, ltp::MakeTag(*id, ltp::PropType::kString)),
            "application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m");

  messaging::NameMap detached;
  ImportOptions ahead;
  ahead.nameMap = &detached;
  ASSERT_TRUE(DetachNameMap(ahead).ok());
  ASSERT_TRUE(ahead.contentTypeId.has_value());
  const ImportedMessage later = BuildMessage(mime::ParseMessage(opaque), ahead);
  EXPECT_EQ(Text(later.message.props, ltp::MakeTag(*ahead.contentTypeId, ltp::PropType::kString)),
            "application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m");
  EXPECT_EQ(Text(Build(head + "\r\nplain\r\n").message.props, tag::kMessageClass), "IPM.Note");
}

}  // namespace
}  // namespace pst::import
