#include "pst/messaging/table_templates.h"

#include "pst/ltp/table_context.h"
#include "pst/messaging/prop_tags.h"

namespace pst::messaging {
namespace {

using ltp::kTagLtpRowId;
using ltp::kTagLtpRowVer;
using ltp::PropTag;

// Each list gives the existence-bit order Outlook uses for the same template.
constexpr PropTag kHierarchy[] = {kTagLtpRowId,
                                  kTagLtpRowVer,
                                  tag::kDisplayName,
                                  tag::kContentCount,
                                  tag::kContentUnreadCount,
                                  tag::kSubfolders,
                                  tag::kReplItemId,
                                  tag::kReplChangenum,
                                  tag::kReplVersionHistory,
                                  tag::kReplFlags,
                                  tag::kContainerClass,
                                  tag::kPstHiddenCount,
                                  tag::kPstHiddenUnread};

constexpr PropTag kContents[] = {kTagLtpRowId,
                                 kTagLtpRowVer,
                                 tag::kMessageStatus,
                                 tag::kMessageClass,
                                 tag::kMessageFlags,
                                 tag::kImportance,
                                 tag::kSentRepresentingName,
                                 tag::kSubject,
                                 tag::kMessageDeliveryTime,
                                 tag::kClientSubmitTime,
                                 tag::kMessageSize,
                                 tag::kDisplayTo,
                                 tag::kDisplayCc,
                                 tag::kMessageToMe,
                                 tag::kMessageCcMe,
                                 tag::kSensitivity,
                                 tag::kItemTemporaryFlags,
                                 tag::kConversationTopic,
                                 tag::kConversationIndex,
                                 tag::kSecureSubmitFlags,
                                 tag::kLastModificationTime,
                                 tag::kReplItemId,
                                 tag::kReplChangenum,
                                 tag::kReplVersionHistory,
                                 tag::kReplCopiedFromItemId,
                                 tag::kReplCopiedFromVersionHistory,
                                 tag::kReplFlags};

constexpr PropTag kAssocContents[] = {kTagLtpRowId,
                                      kTagLtpRowVer,
                                      tag::kMessageStatus,
                                      tag::kMessageClass,
                                      tag::kMessageFlags,
                                      tag::kDisplayName,
                                      tag::kViewDescriptorFlags,
                                      tag::kViewDescriptorLinkTo,
                                      tag::kViewDescriptorViewFolder,
                                      tag::kViewDescriptorName,
                                      tag::kViewDescriptorVersion,
                                      tag::kAssocOabName,
                                      tag::kAssocFlag6803,
                                      tag::kAssocMultiInt6805,
                                      tag::kAssocString682F,
                                      tag::kConversationTopic,
                                      tag::kReportName};

// Search results carry the folder each hit came from besides the usual list columns.
constexpr PropTag kSearchContents[] = {kTagLtpRowId,           kTagLtpRowVer,
                                       tag::kLtpParentNid,     tag::kParentDisplay,
                                       tag::kSearchFolderFlag, tag::kMessageStatus,
                                       tag::kMessageClass,     tag::kMessageFlags,
                                       tag::kImportance,       tag::kSentRepresentingName,
                                       tag::kSubject,          tag::kMessageDeliveryTime,
                                       tag::kClientSubmitTime, tag::kMessageSize,
                                       tag::kDisplayTo,        tag::kDisplayCc,
                                       tag::kMessageToMe,      tag::kMessageCcMe,
                                       tag::kSensitivity};

constexpr PropTag kRecipients[] = {kTagLtpRowId,         kTagLtpRowVer,
                                   tag::kResponsibility, tag::kAddressType,
                                   tag::kEmailAddress,   tag::kEntryId,
                                   tag::kDisplayName,    tag::kRecipientType,
                                   tag::kSearchKey,      tag::kRecordKey,
                                   tag::kObjectType,     tag::kDisplayType,
                                   tag::kSendRichInfo,   tag::kTransmittableDisplayName};

constexpr PropTag kAttachments[] = {kTagLtpRowId,     kTagLtpRowVer,      tag::kRenderingPosition,
                                    tag::kAttachSize, tag::kAttachMethod, tag::kAttachFilename};

constexpr PropTag kReceiveFolders[] = {kTagLtpRowId, kTagLtpRowVer, tag::kReceiveFolderNid,
                                       tag::kMessageClass};

}  // namespace

std::span<const ltp::PropTag> HierarchyColumns() { return kHierarchy; }
std::span<const ltp::PropTag> ContentsColumns() { return kContents; }
std::span<const ltp::PropTag> AssocContentsColumns() { return kAssocContents; }
std::span<const ltp::PropTag> SearchContentsColumns() { return kSearchContents; }
std::span<const ltp::PropTag> RecipientColumns() { return kRecipients; }
std::span<const ltp::PropTag> AttachmentColumns() { return kAttachments; }
std::span<const ltp::PropTag> ReceiveFolderColumns() { return kReceiveFolders; }

}  // namespace pst::messaging
