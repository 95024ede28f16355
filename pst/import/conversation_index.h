// PR_CONVERSATION_INDEX for a message that starts (or is seen as the start of) a thread: the
// 22-byte header block alone, big-endian:
//   1   reserved, 0x01
//   5   the upper 40 bits of the FILETIME the thread began at
//   16  a GUID naming the thread
// Outlook groups messages whose indexes share the GUID. Imported mail carries no index of its own,
// so the GUID is derived from the thread's first Message-ID: replies that name the same root in
// References end up in one conversation.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace pst::import {

// `fileTime` is the message's time; `rootId` the first id of References (else In-Reply-To, else
// the message's own Message-ID); an empty rootId gives a GUID derived from `fallbackKey`.
std::vector<std::uint8_t> ConversationIndex(std::uint64_t fileTime, std::string_view rootId,
                                            std::string_view fallbackKey);

// The id that names the thread a message belongs to: the first "<...>" of `references`, else
// `inReplyTo`, else `messageId` (each as given).
std::string_view ThreadRootId(std::string_view references, std::string_view inReplyTo,
                              std::string_view messageId);

}  // namespace pst::import
