#include "pst/import/message_builder.h"

#include <string>
#include <string_view>

#include "common/text.h"
#include "pst/import/attachment_names.h"
#include "pst/import/code_page.h"
#include "pst/import/conversation_index.h"
#include "pst/import/entry_ids.h"
#include "pst/import/import_tags.h"
#include "pst/import/message_class.h"
#include "pst/import/message_state.h"

namespace pst::import {
namespace {

using ltp::PropTag;
using ltp::PropValue;
using messaging::Property;

constexpr std::string_view kSmtp = "SMTP";
constexpr std::int64_t kUnixEpochIn1601Seconds = 11644473600;
// {00062008-0000-0000-C000-000000000046} in stored byte order.
constexpr ltp::Guid kPsetidCommon = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

class PropertyList {
 public:
  explicit PropertyList(std::vector<Property>* props) : props_(props) {}

  void Add(PropTag tag, PropValue value) { props_->emplace_back(tag, std::move(value)); }
  void Text(PropTag tag, std::string_view utf8) { Add(tag, PropValue::StringUtf8(utf8)); }
  // Leaves an empty text out: readers show a missing property and an empty one alike, and the
  // heap gains nothing from zero-length items.
  void TextIfAny(PropTag tag, std::string_view utf8) {
    if (!utf8.empty()) Text(tag, utf8);
  }
  void Int(PropTag tag, std::int32_t v) { Add(tag, PropValue::Int32(v)); }
  void Bool(PropTag tag, bool v) { Add(tag, PropValue::Bool(v)); }
  void Time(PropTag tag, std::uint64_t fileTime) { Add(tag, PropValue::Time(fileTime)); }
  void Bytes(PropTag tag, std::vector<std::uint8_t> bytes) { Add(tag, PropValue::Binary(std::move(bytes))); }

 private:
  std::vector<Property>* props_;
};

// What a mailbox is shown as: its name, or its address when it has no name.
std::string_view ShownName(const mime::Mailbox& box) { return box.name.empty() ? box.address : box.name; }

std::string JoinNames(const std::vector<mime::Mailbox>& boxes) {
  std::string joined;
  for (const mime::Mailbox& box : boxes) {
    if (ShownName(box).empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += ShownName(box);
  }
  return joined;
}

struct AddressTags {
  PropTag name, entryId, searchKey, addressType, emailAddress, smtpAddress;
};

constexpr AddressTags kSenderTags = {tag::kSenderName,         tag::kSenderEntryId,
                                     tag::kSenderSearchKey,    tag::kSenderAddressType,
                                     tag::kSenderEmailAddress, tag::kSenderSmtpAddress};
constexpr AddressTags kSentRepresentingTags = {
    tag::kSentRepresentingName,        tag::kSentRepresentingEntryId,      tag::kSentRepresentingSearchKey,
    tag::kSentRepresentingAddressType, tag::kSentRepresentingEmailAddress, tag::kSentRepresentingSmtpAddress};

// A mailbox with only a name (no address) keeps its name; the address forms need an address.
void AddAddress(PropertyList& list, const AddressTags& tags, const mime::Mailbox& box) {
  list.TextIfAny(tags.name, ShownName(box));
  if (box.address.empty()) return;
  list.Bytes(tags.entryId, OneOffEntryId(ShownName(box), kSmtp, box.address));
  list.Bytes(tags.searchKey, SmtpSearchKey(box.address));
  list.Text(tags.addressType, kSmtp);
  list.Text(tags.emailAddress, box.address);
  list.Text(tags.smtpAddress, box.address);
}

messaging::RecipientContent Recipient(const mime::Mailbox& box, std::int32_t type, std::int32_t rowId) {
  messaging::RecipientContent recipient;
  PropertyList list(&recipient.props);
  const std::string_view name = ShownName(box);
  list.Int(tag::kRecipientType, type);
  list.Int(tag::kObjectType, tag::kObjectTypeMailUser);
  list.Int(tag::kDisplayType, tag::kDisplayTypeMailUser);
  list.Bool(tag::kResponsibility, false);
  list.Bool(tag::kSendRichInfo, false);
  list.Int(tag::kRowId, rowId);
  list.Int(tag::kRecipientOrder, rowId);
  list.Int(tag::kRecipientFlags, tag::kRecipientFlagSendable);
  list.Text(tag::kDisplayName, name);
  list.Text(tag::kRecipientDisplayName, name);
  list.Text(tag::kTransmittableDisplayName, name);
  list.Text(tag::kAddressType, kSmtp);
  list.Text(tag::kEmailAddress, box.address);
  list.Text(tag::kSmtpAddress, box.address);
  std::vector<std::uint8_t> entryId = OneOffEntryId(name, kSmtp, box.address);
  list.Bytes(tag::kRecordKey, entryId);
  list.Bytes(tag::kRecipientEntryId, entryId);
  list.Bytes(tag::kEntryId, std::move(entryId));
  list.Bytes(tag::kSearchKey, SmtpSearchKey(box.address));
  return recipient;
}

void AddRecipients(messaging::MessageContent& message, const std::vector<mime::Mailbox>& boxes,
                   std::int32_t type) {
  for (const mime::Mailbox& box : boxes) {
    if (ShownName(box).empty()) continue;
    const auto rowId = static_cast<std::int32_t>(message.recipients.size());
    message.recipients.push_back(Recipient(box, type, rowId));
  }
}

// PR_SUBJECT the way Outlook keeps it: U+0001, one character holding the prefix length + 1, then
// the subject. Readers take the split from there instead of guessing it, and a subject that itself
// begins with U+0001 can no longer be misread as carrying the marker.
std::u16string StoredSubject(const mime::ParsedMessage& content) {
  std::u16string prefix = quill::Utf8ToUtf16(content.subject_prefix);
  std::u16string rest = quill::Utf8ToUtf16(content.normalized_subject);
  if (prefix.size() >= 0xFFFF) {  // the length would not fit its one character: no split then
    rest = prefix + rest;
    prefix.clear();
  }
  std::u16string stored;
  stored.push_back(u'\x01');
  stored.push_back(static_cast<char16_t>(prefix.size() + 1));
  stored += prefix;
  stored += rest;
  return stored;
}

std::int32_t HtmlCodePage(const mime::ParsedMessage& content) {
  if (std::optional<std::int32_t> cp = CodePageForCharset(content.html_charset)) return *cp;
  // An unnamed or unknown charset: bytes that are valid UTF-8 are most likely UTF-8; anything else
  // reads best as Windows-1252, which gives every byte a character.
  const std::u16string decoded = quill::Utf8ToUtf16(content.html_body);
  for (char16_t c : decoded) {
    if (c >= 0xDC80 && c <= 0xDCFF) return kCodePageWindows1252;
  }
  return kCodePageUtf8;
}

void AddTimes(PropertyList& list, const mime::ParsedMessage& content, const ImportOptions& options) {
  const std::uint64_t fileModified = ToFileTime(options.fileModified);
  const bool hasDate = content.date_state == mime::DateState::kValid;
  const std::uint64_t date = hasDate ? ToFileTime(content.date) : 0;
  const std::uint64_t received = content.received_date ? ToFileTime(*content.received_date) : 0;
  list.Time(tag::kClientSubmitTime, hasDate ? date : (received != 0 ? received : fileModified));
  list.Time(tag::kMessageDeliveryTime, received != 0 ? received : (hasDate ? date : fileModified));
  list.Time(tag::kCreationTime, ToFileTime(options.now));
  list.Time(tag::kLastModificationTime, ToFileTime(options.now));
}

// An enclosed message as its attachment's data, built as a message of its own would be.
messaging::AttachmentData EnclosedMessage(const mime::ParsedMessage& enclosed, const ImportOptions& options) {
  ImportOptions inner = options;
  inner.attachmentsBuilt = SIZE_MAX;
  inner.enclosed = true;
  return messaging::AttachmentData::Embedded(
      std::make_shared<const messaging::MessageContent>(BuildMessage(enclosed, inner).message));
}

messaging::AttachmentData AttachmentBytes(const std::string& data, const ImportOptions& options) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  if (options.borrowAttachmentData) return messaging::AttachmentData::BorrowedBytes({bytes, data.size()});
  return messaging::AttachmentData::Bytes({bytes, bytes + data.size()});
}

messaging::AttachmentContent Attachment(const mime::Attachment& att, int number,
                                        const ImportOptions& options) {
  messaging::AttachmentContent out;
  PropertyList list(&out.props);
  std::string longName = LongFileName(att.file_name, att.mime_type, number);
  std::string displayName = longName;
  if (att.embedded && att.file_name.empty() && !att.embedded->subject.empty()) {
    // Outlook lists an attached message by its subject; readers that save it need a file name.
    longName = LongFileName(SubjectFileName(att.embedded->subject) + ".eml", att.mime_type, number);
    displayName = att.embedded->subject;
  }
  list.Int(tag::kAttachMethod, att.embedded ? tag::kAttachEmbeddedMessage : tag::kAttachByValue);
  list.Int(tag::kRenderingPosition, tag::kRenderingNone);
  list.Text(tag::kDisplayName, displayName);
  list.Text(tag::kAttachLongFilename, longName);
  list.Text(tag::kAttachFilename, ShortFileName(longName));
  list.TextIfAny(tag::kAttachExtension, FileExtension(longName));
  list.TextIfAny(tag::kAttachMimeTag, att.mime_type);
  list.TextIfAny(tag::kAttachContentId, att.content_id);
  list.TextIfAny(tag::kAttachContentLocation, att.content_location);
  list.Bool(tag::kAttachmentHidden, att.hidden);
  if (att.hidden) list.Int(tag::kAttachFlags, tag::kAttachFlagMhtmlRef);
  list.Time(tag::kCreationTime, ToFileTime(options.now));
  list.Time(tag::kLastModificationTime, ToFileTime(options.now));
  out.data = att.embedded ? EnclosedMessage(*att.embedded, options) : AttachmentBytes(att.data, options);
  return out;
}

}  // namespace

std::uint64_t ToFileTime(std::chrono::sys_seconds time) {
  const std::int64_t seconds = time.time_since_epoch().count() + kUnixEpochIn1601Seconds;
  if (seconds <= 0) return 0;
  return static_cast<std::uint64_t>(seconds) * 10000000ULL;
}

ImportedMessage BuildMessage(const mime::ParsedMessage& content, const ImportOptions& options) {
  ImportedMessage imported;
  messaging::MessageContent& message = imported.message;
  PropertyList list(&message.props);

  list.Text(tag::kMessageClass, MessageClassFor(content));
  if (!content.smime_content_type.empty()) {
    std::optional<std::uint16_t> id = options.contentTypeId;
    if (options.nameMap != nullptr) {
      quill::Result<std::uint16_t> assigned = options.nameMap->IdFor(kPsInternetHeaders, kContentTypeName);
      if (assigned.ok()) id = *assigned;
    }
    if (id) list.Text(ltp::MakeTag(*id, ltp::PropType::kString), content.smime_content_type);
  }
  list.Add(tag::kSubject, PropValue::String(StoredSubject(content)));
  list.TextIfAny(tag::kSubjectPrefix, content.subject_prefix);
  list.Text(tag::kNormalizedSubject, content.normalized_subject);
  list.Text(tag::kConversationTopic, ConversationTopic(content.normalized_subject, content.headers));

  // Sender is whoever put the message on its way (the Sender header); sent-representing is the
  // author it was sent for (From). Without a Sender header the author sent it himself.
  const mime::Mailbox* author = !content.from.empty()     ? &content.from.front()
                                : !content.sender.empty() ? &content.sender.front()
                                                          : nullptr;
  const mime::Mailbox* sender = !content.sender.empty() ? &content.sender.front() : author;
  if (sender != nullptr) AddAddress(list, kSenderTags, *sender);
  if (author != nullptr) AddAddress(list, kSentRepresentingTags, *author);

  list.TextIfAny(tag::kDisplayTo, JoinNames(content.to));
  list.TextIfAny(tag::kDisplayCc, JoinNames(content.cc));
  list.TextIfAny(tag::kDisplayBcc, JoinNames(content.bcc));
  AddRecipients(message, content.to, tag::kRecipientTo);
  AddRecipients(message, content.cc, tag::kRecipientCc);
  AddRecipients(message, content.bcc, tag::kRecipientBcc);

  std::vector<std::vector<std::uint8_t>> replyEntries;
  for (const mime::Mailbox& box : content.reply_to) {
    if (!box.address.empty()) replyEntries.push_back(OneOffEntryId(ShownName(box), kSmtp, box.address));
  }
  if (!replyEntries.empty()) {
    list.TextIfAny(tag::kReplyRecipientNames, JoinNames(content.reply_to));
    list.Bytes(tag::kReplyRecipientEntries, FlatEntryList(replyEntries));
  }

  AddTimes(list, content, options);
  ConversationPlace place = ConversationPlaceFor(content.references, content.in_reply_to, content.message_id,
                                                 content.headers, content.subject + content.headers);
  list.Bytes(tag::kConversationIndex, std::move(place.index));
  list.Bool(tag::kConversationIndexTracking, place.tracked);

  list.TextIfAny(tag::kInternetMessageId, content.message_id);
  list.TextIfAny(tag::kInReplyToId, content.in_reply_to);
  list.TextIfAny(tag::kInternetReferences, content.references);
  list.TextIfAny(tag::kTransportMessageHeaders, content.headers);

  list.Int(tag::kImportance, static_cast<std::int32_t>(content.importance));
  list.Int(tag::kPriority, static_cast<std::int32_t>(content.priority));
  list.Int(tag::kSensitivity, static_cast<std::int32_t>(content.sensitivity));

  list.TextIfAny(tag::kBody, content.text_body);
  if (!content.html_body.empty()) {
    list.Bytes(tag::kHtml, std::vector<std::uint8_t>(content.html_body.begin(), content.html_body.end()));
    list.Int(tag::kInternetCodepage, HtmlCodePage(content));
  }
  // Which editor Outlook opens a reply or forward in, as it records for mail it received.
  list.Int(tag::kMessageEditorFormat,
           content.html_body.empty() ? tag::kEditorFormatPlainText : tag::kEditorFormatHtml);

  // What the user did with it where it was kept. An enclosed message is as it was sent, read.
  const RecordedState state = options.enclosed ? RecordedState{} : RecordedStateOf(content);
  list.Int(tag::kMessageFlags, MessageFlagsFor(tag::kMsgFlagRead, state, !content.attachments.empty()));
  AddStateProperties(state, &message.props);
  if (state.flagged) {
    std::optional<std::uint16_t> id = options.flagRequestId;
    if (options.nameMap != nullptr) {
      quill::Result<std::uint16_t> assigned = options.nameMap->IdFor(kPsetidCommon, tag::kLidFlagRequest);
      if (assigned.ok()) id = *assigned;
    }
    // What Outlook writes for a flag the user did not name.
    if (id) list.Text(ltp::MakeTag(*id, ltp::PropType::kString), "Follow up");
  }

  bool allHidden = !content.attachments.empty();
  for (std::size_t i = 0; i < content.attachments.size(); ++i) {
    const mime::Attachment& att = content.attachments[i];
    allHidden = allHidden && att.hidden;
    if (i >= options.attachmentsBuilt) continue;
    message.attachments.push_back(Attachment(att, static_cast<int>(i + 1), options));
  }
  message.laterAttachments = content.attachments.size() - message.attachments.size();
  // The has-attachments flag follows the attachment table (the store sets it whenever there is
  // one). Outlook decides the paper clip by PidLidSmartNoAttach instead, so a message whose only
  // attachments are pictures shown in its HTML gets no clip, as it would in Outlook itself.
  if (!content.attachments.empty()) {
    std::optional<std::uint16_t> id = options.smartNoAttachId;
    if (options.nameMap != nullptr) {
      quill::Result<std::uint16_t> assigned = options.nameMap->IdFor(kPsetidCommon, tag::kLidSmartNoAttach);
      if (assigned.ok()) id = *assigned;
    }
    if (id) list.Bool(ltp::MakeTag(*id, ltp::PropType::kBoolean), allHidden);
  }
  return imported;
}

messaging::AttachmentContent BuildAttachment(const mime::ParsedMessage& content, std::size_t index,
                                             const ImportOptions& options) {
  return Attachment(content.attachments[index], static_cast<int>(index + 1), options);
}

quill::Status DetachNameMap(ImportOptions& options) {
  if (options.nameMap == nullptr) return quill::Status::Ok();
  QUILL_ASSIGN_OR_RETURN(options.smartNoAttachId,
                         options.nameMap->IdFor(kPsetidCommon, tag::kLidSmartNoAttach));
  QUILL_ASSIGN_OR_RETURN(options.flagRequestId, options.nameMap->IdFor(kPsetidCommon, tag::kLidFlagRequest));
  QUILL_ASSIGN_OR_RETURN(options.contentTypeId, options.nameMap->IdFor(kPsInternetHeaders, kContentTypeName));
  options.nameMap = nullptr;
  return quill::Status::Ok();
}

}  // namespace pst::import
