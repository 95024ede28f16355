// What the mail program a message was saved from recorded about it (read, flagged, answered,
// forwarded), and how that shows in Outlook: the read bit of the message flags, the follow-up
// flag and the replied/forwarded icon.
//
// Three records are understood, the first one present wins:
//
//   .emlx property list   "flags" bit field (read 1<<0, answered 1<<2, flagged 1<<4, forwarded 1<<8)
//   X-Mozilla-Status      hex bit field (read 0x0001, replied 0x0002, marked 0x0004, forwarded 0x1000)
//   Status / X-Status     letters (Status: R read; X-Status: A answered, F flagged)
//
// A message whose source records nothing counts as read and carries no other state.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mime/parsed_message.h"
#include "pst/messaging/message_content.h"

namespace pst::import {

struct RecordedState {
  std::optional<bool> read;  // nullopt: the source says nothing about it
  bool flagged = false;
  bool answered = false;
  bool forwarded = false;
};

RecordedState RecordedStateOf(const mime::ParsedMessage& content);

// The message-flags value a saved message gets. `requested` is what the caller asks for (the
// import asks for read); its read bit gives way to the source's when the source records one, the
// has-attachments bit follows the attachments and an imported message is never an unsent draft.
// Every writer of the message flags goes through here, so the rule lives in one place.
std::int32_t MessageFlagsFor(std::int32_t requested, const RecordedState& state, bool hasAttachments);

// The follow-up flag and the last reply/forward, as Outlook keeps them.
void AddStateProperties(const RecordedState& state, std::vector<messaging::Property>* props);

}  // namespace pst::import
