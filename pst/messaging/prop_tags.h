// Tags of the properties the messaging layer writes or mirrors into tables.
#pragma once

#include "pst/ltp/property_value.h"

namespace pst::messaging::tag {

using ltp::PropTag;

inline constexpr PropTag kNameidBucketCount = 0x00010003;
inline constexpr PropTag kNameidStreamGuid = 0x00020102;
inline constexpr PropTag kNameidStreamEntry = 0x00030102;
inline constexpr PropTag kNameidStreamString = 0x00040102;
inline constexpr PropTag kImportance = 0x00170003;
inline constexpr PropTag kMessageClass = 0x001A001F;
inline constexpr PropTag kSensitivity = 0x00360003;
inline constexpr PropTag kSubject = 0x0037001F;
inline constexpr PropTag kClientSubmitTime = 0x00390040;
inline constexpr PropTag kSentRepresentingName = 0x0042001F;
inline constexpr PropTag kMessageToMe = 0x0057000B;
inline constexpr PropTag kMessageCcMe = 0x0058000B;
inline constexpr PropTag kConversationTopic = 0x0070001F;
inline constexpr PropTag kConversationIndex = 0x00710102;
inline constexpr PropTag kRecipientType = 0x0C150003;
inline constexpr PropTag kDisplayBcc = 0x0E02001F;
inline constexpr PropTag kDisplayCc = 0x0E03001F;
inline constexpr PropTag kDisplayTo = 0x0E04001F;
inline constexpr PropTag kParentDisplay = 0x0E05001F;
inline constexpr PropTag kMessageDeliveryTime = 0x0E060040;
inline constexpr PropTag kMessageFlags = 0x0E070003;
inline constexpr PropTag kMessageSize = 0x0E080003;
inline constexpr PropTag kResponsibility = 0x0E0F000B;
inline constexpr PropTag kMessageStatus = 0x0E170003;
inline constexpr PropTag kAttachSize = 0x0E200003;
inline constexpr PropTag kSearchFolderFlag = 0x0E2A000B;
inline constexpr PropTag kReplItemId = 0x0E300003;
inline constexpr PropTag kReplChangenum = 0x0E330014;
inline constexpr PropTag kReplVersionHistory = 0x0E340102;
inline constexpr PropTag kReplFlags = 0x0E380003;
inline constexpr PropTag kReplCopiedFromVersionHistory = 0x0E3C0102;
inline constexpr PropTag kReplCopiedFromItemId = 0x0E3D0102;
inline constexpr PropTag kRecordKey = 0x0FF90102;
inline constexpr PropTag kObjectType = 0x0FFE0003;
inline constexpr PropTag kEntryId = 0x0FFF0102;
inline constexpr PropTag kItemTemporaryFlags = 0x10970003;
inline constexpr PropTag kDisplayName = 0x3001001F;
inline constexpr PropTag kAddressType = 0x3002001F;
inline constexpr PropTag kEmailAddress = 0x3003001F;
inline constexpr PropTag kCreationTime = 0x30070040;
inline constexpr PropTag kLastModificationTime = 0x30080040;
inline constexpr PropTag kSearchKey = 0x300B0102;
inline constexpr PropTag kValidFolderMask = 0x35DF0003;
inline constexpr PropTag kIpmSubtreeEntryId = 0x35E00102;
inline constexpr PropTag kIpmOutboxEntryId = 0x35E20102;
inline constexpr PropTag kIpmWastebasketEntryId = 0x35E30102;
inline constexpr PropTag kIpmSentMailEntryId = 0x35E40102;
inline constexpr PropTag kFinderEntryId = 0x35E70102;
inline constexpr PropTag kContentCount = 0x36020003;
inline constexpr PropTag kContentUnreadCount = 0x36030003;
inline constexpr PropTag kSubfolders = 0x360A000B;
inline constexpr PropTag kContainerClass = 0x3613001F;
inline constexpr PropTag kAttachDataBinary = 0x37010102;
inline constexpr PropTag kAttachDataObject = 0x3701000D;
inline constexpr PropTag kAttachFilename = 0x3704001F;
inline constexpr PropTag kAttachMethod = 0x37050003;
inline constexpr PropTag kAttachLongFilename = 0x3707001F;
inline constexpr PropTag kRenderingPosition = 0x370B0003;
inline constexpr PropTag kDisplayType = 0x39000003;
inline constexpr PropTag kTransmittableDisplayName = 0x39FF001F;
inline constexpr PropTag kSendRichInfo = 0x3A40000B;
inline constexpr PropTag kReceiveFolderNid = 0x66050003;
inline constexpr PropTag kSecureSubmitFlags = 0x65C60003;
inline constexpr PropTag kPstHiddenCount = 0x66350003;
inline constexpr PropTag kPstHiddenUnread = 0x66360003;
inline constexpr PropTag kPstPassword = 0x67FF0003;
inline constexpr PropTag kLtpParentNid = 0x67F10003;
inline constexpr PropTag kAssocOabName = 0x6800001F;
inline constexpr PropTag kAssocFlag6803 = 0x6803000B;
inline constexpr PropTag kAssocMultiInt6805 = 0x68051003;
inline constexpr PropTag kAssocString682F = 0x682F001F;
inline constexpr PropTag kViewDescriptorFlags = 0x70030003;
inline constexpr PropTag kViewDescriptorLinkTo = 0x70040102;
inline constexpr PropTag kViewDescriptorViewFolder = 0x70050102;
inline constexpr PropTag kViewDescriptorName = 0x7006001F;
inline constexpr PropTag kViewDescriptorVersion = 0x70070003;
inline constexpr PropTag kReportName = 0x003A001F;  // a column of the associated-contents table

// PidTagMessageFlags bits.
inline constexpr std::int32_t kMsgFlagRead = 0x01;
inline constexpr std::int32_t kMsgFlagHasAttach = 0x10;

}  // namespace pst::messaging::tag
