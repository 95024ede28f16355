// Tags of the message, recipient and attachment properties that imported mail carries, beyond the
// ones the messaging layer itself names (pst/messaging/prop_tags.h). Ids and types as Outlook
// writes them in a Unicode store.
#pragma once

#include <cstdint>

#include "pst/ltp/property_value.h"

namespace pst::import::tag {

using ltp::PropTag;

// Message envelope.
inline constexpr PropTag kImportance = 0x00170003;
inline constexpr PropTag kMessageClass = 0x001A001F;
inline constexpr PropTag kPriority = 0x00260003;
inline constexpr PropTag kSensitivity = 0x00360003;
inline constexpr PropTag kSubject = 0x0037001F;
inline constexpr PropTag kClientSubmitTime = 0x00390040;
inline constexpr PropTag kSentRepresentingSearchKey = 0x003B0102;
inline constexpr PropTag kSubjectPrefix = 0x003D001F;
inline constexpr PropTag kSentRepresentingEntryId = 0x00410102;
inline constexpr PropTag kSentRepresentingName = 0x0042001F;
inline constexpr PropTag kReplyRecipientEntries = 0x004F0102;
inline constexpr PropTag kReplyRecipientNames = 0x0050001F;
inline constexpr PropTag kSentRepresentingAddressType = 0x0064001F;
inline constexpr PropTag kSentRepresentingEmailAddress = 0x0065001F;
inline constexpr PropTag kConversationTopic = 0x0070001F;
inline constexpr PropTag kConversationIndex = 0x00710102;
inline constexpr PropTag kTransportMessageHeaders = 0x007D001F;
inline constexpr PropTag kSenderEntryId = 0x0C190102;
inline constexpr PropTag kSenderName = 0x0C1A001F;
inline constexpr PropTag kSenderSearchKey = 0x0C1D0102;
inline constexpr PropTag kSenderAddressType = 0x0C1E001F;
inline constexpr PropTag kSenderEmailAddress = 0x0C1F001F;
inline constexpr PropTag kDisplayBcc = 0x0E02001F;
inline constexpr PropTag kDisplayCc = 0x0E03001F;
inline constexpr PropTag kDisplayTo = 0x0E04001F;
inline constexpr PropTag kMessageDeliveryTime = 0x0E060040;
inline constexpr PropTag kMessageFlags = 0x0E070003;
inline constexpr PropTag kNormalizedSubject = 0x0E1D001F;
inline constexpr PropTag kBody = 0x1000001F;
inline constexpr PropTag kHtml = 0x10130102;
inline constexpr PropTag kInternetMessageId = 0x1035001F;
inline constexpr PropTag kInternetReferences = 0x1039001F;
inline constexpr PropTag kInReplyToId = 0x1042001F;
inline constexpr PropTag kCreationTime = 0x30070040;
inline constexpr PropTag kLastModificationTime = 0x30080040;
inline constexpr PropTag kInternetCodepage = 0x3FDE0003;
inline constexpr PropTag kSenderSmtpAddress = 0x5D01001F;
inline constexpr PropTag kSentRepresentingSmtpAddress = 0x5D02001F;

// Recipient rows.
inline constexpr PropTag kRecipientType = 0x0C150003;
inline constexpr PropTag kResponsibility = 0x0E0F000B;
inline constexpr PropTag kRecordKey = 0x0FF90102;
inline constexpr PropTag kObjectType = 0x0FFE0003;
inline constexpr PropTag kEntryId = 0x0FFF0102;
inline constexpr PropTag kRowId = 0x30000003;
inline constexpr PropTag kDisplayName = 0x3001001F;
inline constexpr PropTag kAddressType = 0x3002001F;
inline constexpr PropTag kEmailAddress = 0x3003001F;
inline constexpr PropTag kSearchKey = 0x300B0102;
inline constexpr PropTag kDisplayType = 0x39000003;
inline constexpr PropTag kSmtpAddress = 0x39FE001F;
inline constexpr PropTag kTransmittableDisplayName = 0x3A20001F;
inline constexpr PropTag kSendRichInfo = 0x3A40000B;
inline constexpr PropTag kRecipientOrder = 0x5FDF0003;
inline constexpr PropTag kRecipientDisplayName = 0x5FF6001F;
inline constexpr PropTag kRecipientEntryId = 0x5FF70102;
inline constexpr PropTag kRecipientFlags = 0x5FFD0003;

// Attachments.
inline constexpr PropTag kAttachDataBinary = 0x37010102;
inline constexpr PropTag kAttachExtension = 0x3703001F;
inline constexpr PropTag kAttachFilename = 0x3704001F;
inline constexpr PropTag kAttachMethod = 0x37050003;
inline constexpr PropTag kAttachLongFilename = 0x3707001F;
inline constexpr PropTag kRenderingPosition = 0x370B0003;
inline constexpr PropTag kAttachMimeTag = 0x370E001F;
inline constexpr PropTag kAttachContentId = 0x3712001F;
inline constexpr PropTag kAttachContentLocation = 0x3713001F;
inline constexpr PropTag kAttachFlags = 0x37140003;
inline constexpr PropTag kAttachmentHidden = 0x7FFE000B;

// Values.
inline constexpr std::int32_t kMsgFlagRead = 0x01;
inline constexpr std::int32_t kRecipientTo = 1;
inline constexpr std::int32_t kRecipientCc = 2;
inline constexpr std::int32_t kRecipientBcc = 3;
inline constexpr std::int32_t kObjectTypeMailUser = 6;
inline constexpr std::int32_t kDisplayTypeMailUser = 0;
inline constexpr std::int32_t kRecipientFlagSendable = 0x01;
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMessage = 5;
inline constexpr std::int32_t kAttachFlagMhtmlRef = 0x04;  // shown by the HTML body through cid:
inline constexpr std::int32_t kRenderingNone = -1;          // 0xFFFFFFFF: not placed in the body

// PidLidSmartNoAttach: PSETID_Common {00062008-0000-0000-C000-000000000046}, long id 0x8514,
// Boolean. True when no attachment of the message is one the user should see.
inline constexpr std::uint32_t kLidSmartNoAttach = 0x8514;

}  // namespace pst::import::tag
