#include "pst/import/message_state.h"

#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "pst/import/import_tags.h"

namespace pst::import {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The unfolded value of the first field `name` of a header section, or nullopt when there is none.
std::optional<std::string> HeaderValue(std::string_view headers, std::string_view name) {
  std::size_t at = 0;
  while (at < headers.size()) {
    std::size_t end = headers.find('\n', at);
    if (end == std::string_view::npos) end = headers.size();
    const std::string_view line = headers.substr(at, end - at);
    at = end + 1;
    // A line that begins with a blank continues the field before it ("Subject: ...\n status: 5").
    if (line.empty() || line.front() == ' ' || line.front() == '\t') continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !SameLetters(Trimmed(line.substr(0, colon)), name)) continue;
    std::string value(Trimmed(line.substr(colon + 1)));
    while (at < headers.size() && (headers[at] == ' ' || headers[at] == '\t')) {
      std::size_t next = headers.find('\n', at);
      if (next == std::string_view::npos) next = headers.size();
      value += ' ';
      value += Trimmed(headers.substr(at, next - at));
      at = next + 1;
    }
    return value;
  }
  return std::nullopt;
}

std::optional<RecordedState> FromMozillaStatus(std::string_view headers) {
  const std::optional<std::string> value = HeaderValue(headers, "X-Mozilla-Status");
  if (!value) return std::nullopt;
  std::uint32_t bits = 0;
  const char* end = value->data() + value->size();
  const auto [ptr, ec] = std::from_chars(value->data(), end, bits, 16);
  if (ec != std::errc() || ptr != end) return std::nullopt;  // not Thunderbird's: ignore it
  RecordedState state;
  state.read = (bits & 0x0001) != 0;
  state.answered = (bits & 0x0002) != 0;
  state.flagged = (bits & 0x0004) != 0;
  state.forwarded = (bits & 0x1000) != 0;
  return state;
}

// mbox programs keep the read state in Status ("RO" read, "O" or nothing seen) and the rest in
// X-Status; either may stand alone.
std::optional<RecordedState> FromStatusHeaders(std::string_view headers) {
  const std::optional<std::string> status = HeaderValue(headers, "Status");
  const std::optional<std::string> xstatus = HeaderValue(headers, "X-Status");
  if (!status && !xstatus) return std::nullopt;
  RecordedState state;
  if (status) state.read = status->find('R') != std::string::npos;
  if (xstatus) {
    state.answered = xstatus->find('A') != std::string::npos;
    state.flagged = xstatus->find('F') != std::string::npos;
  }
  return state;
}

}  // namespace

RecordedState RecordedStateOf(const mime::ParsedMessage& content) {
  // Apple Mail's property list is written by the program that holds the message now; headers may
  // have travelled with it from elsewhere, so they count only without one.
  if (content.emlx_flags) {
    RecordedState state;
    state.read = content.emlx_flags->read;
    state.answered = content.emlx_flags->answered;
    state.flagged = content.emlx_flags->flagged;
    state.forwarded = content.emlx_flags->forwarded;
    return state;
  }
  if (std::optional<RecordedState> state = FromMozillaStatus(content.headers)) return *state;
  if (std::optional<RecordedState> state = FromStatusHeaders(content.headers)) return *state;
  return RecordedState{};
}

std::int32_t MessageFlagsFor(std::int32_t requested, const RecordedState& state, bool hasAttachments) {
  constexpr std::int32_t kMsgFlagUnsent = 0x08;
  std::int32_t flags = requested & ~(tag::kMsgFlagHasAttach | kMsgFlagUnsent);
  if (state.read) flags = *state.read ? (flags | tag::kMsgFlagRead) : (flags & ~tag::kMsgFlagRead);
  if (hasAttachments) flags |= tag::kMsgFlagHasAttach;
  return flags;
}

void AddStateProperties(const RecordedState& state, std::vector<messaging::Property>* props) {
  if (state.flagged) {
    // A flag without dates, in Outlook's own red: the flag shows in the message list, and no
    // due date is made up for the to-do list.
    props->emplace_back(tag::kFlagStatus, ltp::PropValue::Int32(tag::kFollowupFlagged));
    props->emplace_back(tag::kFollowupIcon, ltp::PropValue::Int32(tag::kFollowupIconRed));
  }
  // Outlook shows one icon for the last thing done; the sources do not say which came last, and
  // a reply is what the user more likely looks for.
  if (state.answered || state.forwarded) {
    props->emplace_back(tag::kIconIndex, ltp::PropValue::Int32(state.answered ? tag::kIconRepliedMail
                                                                              : tag::kIconForwardedMail));
    props->emplace_back(tag::kLastVerbExecuted,
                        ltp::PropValue::Int32(state.answered ? tag::kVerbReplyToSender : tag::kVerbForward));
  }
}

}  // namespace pst::import
