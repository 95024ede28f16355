// Tags of the message, recipient and attachment properties that imported mail carries, beyond the
// ones the messaging layer itself names (pst/messaging/prop_tags.h). Ids and types as Outlook
// writes them in a Unicode store.
#pragma once

#include <cstdint>

#include "pst/ltp/property_value.h"
#include "pst/messaging/prop_tags.h"

namespace pst::import::tag {

using ltp::PropTag;
// The messaging layer's own names (kSubject, kMessageFlags, ...) are used from there.
using namespace messaging::tag;

// Message envelope.
inline constexpr PropTag kPriority = 0x00260003;
inline constexpr PropTag kSentRepresentingSearchKey = 0x003B0102;
inline constexpr PropTag kSubjectPrefix = 0x003D001F;
inline constexpr PropTag kSentRepresentingEntryId = 0x00410102;
inline constexpr PropTag kReplyRecipientEntries = 0x004F0102;
inline constexpr PropTag kReplyRecipientNames = 0x0050001F;
inline constexpr PropTag kSentRepresentingAddressType = 0x0064001F;
inline constexpr PropTag kSentRepresentingEmailAddress = 0x0065001F;
inline constexpr PropTag kTransportMessageHeaders = 0x007D001F;
inline constexpr PropTag kSenderEntryId = 0x0C190102;
inline constexpr PropTag kSenderName = 0x0C1A001F;
inline constexpr PropTag kSenderSearchKey = 0x0C1D0102;
inline constexpr PropTag kSenderAddressType = 0x0C1E001F;
inline constexpr PropTag kSenderEmailAddress = 0x0C1F001F;
inline constexpr PropTag kNormalizedSubject = 0x0E1D001F;
inline constexpr PropTag kBody = 0x1000001F;
inline constexpr PropTag kHtml = 0x10130102;
inline constexpr PropTag kInternetMessageId = 0x1035001F;
inline constexpr PropTag kInternetReferences = 0x1039001F;
inline constexpr PropTag kInReplyToId = 0x1042001F;
// True when the conversation index's GUID names the thread, so that Outlook groups by it
// rather than by the subject.
inline constexpr PropTag kConversationIndexTracking = 0x3016000B;
inline constexpr PropTag kInternetCodepage = 0x3FDE0003;
inline constexpr PropTag kSenderSmtpAddress = 0x5D01001F;
inline constexpr PropTag kSentRepresentingSmtpAddress = 0x5D02001F;
inline constexpr PropTag kMessageEditorFormat = 0x59090003;

// Recipient rows.
inline constexpr PropTag kRowId = 0x30000003;
inline constexpr PropTag kSmtpAddress = 0x39FE001F;
inline constexpr PropTag kTransmittableDisplayName = 0x3A20001F;
inline constexpr PropTag kRecipientOrder = 0x5FDF0003;
inline constexpr PropTag kRecipientDisplayName = 0x5FF6001F;
inline constexpr PropTag kRecipientEntryId = 0x5FF70102;
inline constexpr PropTag kRecipientFlags = 0x5FFD0003;

// Attachments.
inline constexpr PropTag kAttachExtension = 0x3703001F;
inline constexpr PropTag kAttachMimeTag = 0x370E001F;
inline constexpr PropTag kAttachContentId = 0x3712001F;
inline constexpr PropTag kAttachContentLocation = 0x3713001F;
inline constexpr PropTag kAttachFlags = 0x37140003;
inline constexpr PropTag kAttachmentHidden = 0x7FFE000B;
// What was done with the message: follow-up flag, its colour, the list icon and the last reply or
// forward.
inline constexpr PropTag kIconIndex = 0x10800003;
inline constexpr PropTag kLastVerbExecuted = 0x10810003;
inline constexpr PropTag kFlagStatus = 0x10900003;
inline constexpr PropTag kFollowupIcon = 0x10950003;

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
inline constexpr std::int32_t kRenderingNone = -1;         // 0xFFFFFFFF: not placed in the body
inline constexpr std::int32_t kFollowupFlagged = 2;
inline constexpr std::int32_t kFollowupIconRed = 6;
inline constexpr std::int32_t kIconRepliedMail = 0x105;
inline constexpr std::int32_t kIconForwardedMail = 0x106;
inline constexpr std::int32_t kVerbReplyToSender = 102;
inline constexpr std::int32_t kVerbForward = 104;
inline constexpr std::int32_t kEditorFormatPlainText = 1;
inline constexpr std::int32_t kEditorFormatHtml = 2;

// PidLidSmartNoAttach: PSETID_Common {00062008-0000-0000-C000-000000000046}, long id 0x8514,
// Boolean. True when no attachment of the message is one the user should see.
inline constexpr std::uint32_t kLidSmartNoAttach = 0x8514;
// PidLidFlagRequest: PSETID_Common, long id 0x8530, string. The text shown with a follow-up flag.
inline constexpr std::uint32_t kLidFlagRequest = 0x8530;

}  // namespace pst::import::tag
