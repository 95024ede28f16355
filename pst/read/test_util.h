// Helpers shared by the read-back and checker tests: reference stores from the shared folder and
// surgical edits that keep every checksum but the one under test valid.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pst/read/checker.h"
#include "pst/read/pst_file.h"

namespace pst::read::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a store in <QUILL_SHARED_DIR>/reference-pst/; empty when it cannot be read.
Bytes LoadReference(const std::string& name);
std::string ReferencePath(const std::string& name);

void PutLe16(Bytes& b, std::size_t off, std::uint16_t v);
void PutLe32(Bytes& b, std::size_t off, std::uint32_t v);
void PutLe64(Bytes& b, std::size_t off, std::uint64_t v);

void FixHeaderCrcs(Bytes& file);
void FixPageCrc(Bytes& file, std::uint64_t page_ib);

// File offset of the leaf entry keyed `key` in the NBT (nbt = true) or BBT; 0 when absent.
std::uint64_t FindLeafEntry(const PstFile& pst, const Bytes& file, bool nbt, std::uint64_t key);
// The page holding that entry.
std::uint64_t PageOf(std::uint64_t entry_offset);

// Decodes an external block, lets `edit` change it (same size), re-encodes it and fixes its CRC.
void EditBlock(const PstFile& pst, Bytes& file, Bid bid, const std::function<void(Bytes&)>& edit);

// Offset of the first occurrence of `needle` in `hay`, or npos.
std::size_t Find(const Bytes& hay, const Bytes& needle);

bool HasFinding(const CheckReport& report, std::string_view needle);
std::string Describe(const std::vector<Finding>& findings);

}  // namespace pst::read::testing
