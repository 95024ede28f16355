// The binary address forms Outlook keeps beside a sender's or recipient's name and address.
//
// One-off entry id (an address that lives in no address book), little-endian:
//   4   flags, zero (a long-term id)
//   16  MAPI_ONE_OFF_UID 81 2B 1F A4 BE A3 10 19 9D 6E 00 DD 01 0F 54 02
//   2   version, zero
//   2   0x8001: strings are UTF-16, no rich (TNEF) content - what Outlook writes for SMTP
//   ..  display name, address type, address: UTF-16LE, each ended by a 16-bit NUL
//
// Flat entry list (PR_REPLY_RECIPIENT_ENTRIES):
//   4 count, 4 byte size of what follows, then per entry: 4 size, the entry id, padding to 4.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace pst::import {

// One-off entry id for `name` <`address`> of address type `addressType` (UTF-8 in).
std::vector<std::uint8_t> OneOffEntryId(std::string_view name, std::string_view addressType,
                                        std::string_view address);

// "SMTP:" + the address in upper case + one NUL byte, as 8-bit characters. Bytes outside ASCII are
// kept as they are (only a-z are raised), so the key stays stable for internationalised addresses.
std::vector<std::uint8_t> SmtpSearchKey(std::string_view address);

// Packs entry ids into one flat entry list.
std::vector<std::uint8_t> FlatEntryList(const std::vector<std::vector<std::uint8_t>>& entryIds);

}  // namespace pst::import
