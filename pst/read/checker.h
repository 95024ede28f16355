// The structural checker: walks a store through PstFile and the messaging reader and lists every
// broken invariant it finds, each with a short text and where it is. An empty list means the store
// satisfies everything checked here (see check_ndb.cpp and check_messaging.cpp for the lists).
//
// Checks stay within what the format requires and what Outlook's own stores satisfy, so a finding
// is a fault, not a matter of taste.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/read/finding.h"
#include "pst/read/pst_file.h"

namespace pst::read {

struct FolderSummary {
  Nid nid = 0;
  std::string name;
  int depth = 0;
  std::size_t subfolders = 0;
  std::size_t messages = 0;
  std::size_t assoc_messages = 0;
};

struct CheckReport {
  std::vector<Finding> findings;
  // Departures from the format's rules that Outlook's own stores show and Outlook tolerates
  // (leaked blocks and map slots, messages without a recipient table, a contents-table size that
  // lags behind the message). Our own writer should produce none; pstcheck --strict counts them.
  std::vector<Finding> notes;
  std::vector<FolderSummary> folders;  // depth-first from the root, as the hierarchy tables give it
  std::size_t nodes = 0;
  std::size_t blocks = 0;
  std::size_t pages = 0;
  std::size_t messages = 0;  // top-level and embedded
  std::size_t recipients = 0;
  std::size_t attachments = 0;
};

CheckReport CheckStore(const PstFile& file);

// Opens and checks; the Status is the open failure (an unreadable file is not a finding).
Result<CheckReport> CheckFile(const std::string& path);

}  // namespace pst::read
