// A strict, minimal reader of what FileWriter writes, for tests only.
//
// It is written from the format's rules rather than from the writer's code: it checks every page
// and block trailer it touches (type, signature, CRC, id, size) and the B-tree invariants (sorted
// unique keys, parent keys equal to the child's first key, levels), and reports the first
// violation as a Corruption status naming it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/ndb/sink_base.h"

namespace pst::ndb::test_reader {

struct BbtRecord {
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cref = 0;
};

struct ParsedFile {
  std::vector<std::uint8_t> bytes;
  std::uint64_t bidNextP = 0;
  std::uint64_t bidNextB = 0;
  std::uint64_t fileEof = 0;
  std::uint64_t amapLast = 0;
  std::uint64_t amapFree = 0;
  std::uint32_t unique = 0;
  std::uint32_t nidCounters[32] = {};
  std::uint8_t crypt = 0;
  std::uint8_t amapValid = 0;
  std::map<std::uint64_t, BbtRecord> bbt;
  std::map<std::uint32_t, NodeEntry> nbt;
  std::vector<std::uint64_t> btPages;  // offsets of every B-tree page
  std::uint64_t maxPageBid = 0;
  int nbtLevels = 0;
  int bbtLevels = 0;
};

quill::Result<ParsedFile> ParseFile(const std::string& path);

// The stream of data block or data tree `bid`, decoded.
quill::Result<std::vector<std::uint8_t>> ReadStream(const ParsedFile& f, std::uint64_t bid);
// The flattened subnode tree `bid`.
quill::Result<std::vector<SubnodeRef>> ReadSubnodeTree(const ParsedFile& f, std::uint64_t bid);

// The AMap content (496 bytes) region k should have, from what the B-trees and map pages occupy.
std::vector<std::uint8_t> ExpectedAMap(const ParsedFile& f, std::uint64_t k);

// Test data: `n` bytes from a generator seeded with `seed`, the same for the same seed.
std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed);
// The whole content of the file at `p` (empty when it cannot be read).
std::string ReadAll(const std::filesystem::path& p);

}  // namespace pst::ndb::test_reader
