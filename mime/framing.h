// Where the message is inside a file's bytes.
//
// Three wrappers are recognised by content, never by file name:
//
//   .emlx   "1497\n" <1497 bytes of message> <?xml ...><plist>...flags...</plist>
//   mbox    "From sender@host Thu Feb  6 15:39:55 2020\n" <message>
//   BOM     EF BB BF <message>
//
// An .emlx byte count that is missing, or that does not end where the property list starts, is
// repaired by looking for the property list itself.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/parsed_message.h"

namespace mime {

struct MessageFrame {
  size_t begin = 0;  // Offset of the first header byte.
  size_t end = 0;    // One past the last message byte.
  bool emlx = false;
  std::optional<EmlxFlags> flags;  // From the property list, when one was found and held flags.
  std::vector<std::string> notes;  // Repairs made, for ParsedMessage::notes.
};

MessageFrame LocateMessage(std::string_view data);

// Reads the "flags" integer of an .emlx property list. nullopt when there is no such key or its
// value is not a number.
std::optional<EmlxFlags> ParseEmlxFlags(std::string_view plist);

}  // namespace mime
