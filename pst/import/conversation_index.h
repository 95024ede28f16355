// PR_CONVERSATION_INDEX and PR_CONVERSATION_INDEX_TRACKING for imported mail.
//
// Outlook puts a message in a conversation by its conversation id, which it computes: when
// PR_CONVERSATION_INDEX_TRACKING is true and the index is a 22-byte (or longer) block starting
// with 0x01, the id is the index's GUID; otherwise it is an MD5 of the upper-cased conversation
// topic, so that without tracking every message of the same subject shares one conversation and
// a reply whose subject changed leaves it.
//
// Internet mail names its thread by Message-IDs, so the index is built from them and tracking is
// set: every message of a thread gets the same 22-byte header block
//   1   0x01
//   5   zeros: the thread's start time is not known to a reply, and a header block that differs
//       between members would split the thread (Outlook's own configuration messages use the
//       same zero prefix for an index that names a conversation by its GUID alone)
//   16  a GUID hashed from the thread's root id (first id of References, else In-Reply-To, else
//       the message's own Message-ID)
// followed by one 5-byte block per step down from the root: one for each later id of
// References, then one for the message itself, each hashed from its Message-ID. A message's
// index therefore begins with its parent's whole index, which is how Outlook tells a reply from
// its siblings and indents it. The blocks hold no time deltas (the ancestors' times are not in
// the reply), so replies to one message sort among themselves by id rather than by time.
//
// A Thread-Index header (Outlook's index, base64) is used only for a message that carries no
// Message-ID, References or In-Reply-To: its GUID is Outlook's random one, which the other
// members of a mixed thread cannot share, so taking it whenever present would split every
// thread that Outlook and other programs took part in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pst::import {

struct ConversationPlace {
  std::vector<std::uint8_t> index;
  // True when the index's GUID names the thread (it came from an id or from Outlook's own
  // index); false when only the fallback key was there, so that Outlook groups such a message
  // by its topic instead of leaving it alone.
  bool tracked = false;
};

// Deeper References chains are cut to this many blocks below the header.
inline constexpr std::size_t kMaxResponseLevels = 64;

// `headers` is the message's header section as written (for Thread-Index); `fallbackKey` names
// the message when it has no ids at all.
ConversationPlace ConversationPlaceFor(std::string_view references, std::string_view inReplyTo,
                                       std::string_view messageId, std::string_view headers,
                                       std::string_view fallbackKey);

// The id that names the thread a message belongs to: the first "<...>" of `references`, else
// `inReplyTo`, else `messageId` (each as given).
std::string_view ThreadRootId(std::string_view references, std::string_view inReplyTo,
                              std::string_view messageId);

// PR_CONVERSATION_TOPIC: the Thread-Topic header when there is one (Outlook writes the thread's
// first subject there), else the subject with every reply and forward prefix taken off, so that
// "Re: Re: Budget" and "AW: Fwd: Budget" show the topic "Budget" (the normalized subject keeps all
// but the first prefix, as Outlook's own rule for it says).
std::string ConversationTopic(std::string_view normalizedSubject, std::string_view headers);

// The value of the first Thread-Index field of `headers`, base64-decoded, when it is a
// well-formed conversation index (0x01, then 22 + 5n bytes); empty otherwise.
std::vector<std::uint8_t> ThreadIndexHeader(std::string_view headers);

}  // namespace pst::import
