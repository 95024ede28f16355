// Shared state of one checker run (internal to the checker).
#pragma once

#include <string>

#include "pst/read/checker.h"

namespace pst::read {

// Stops one kind of fault from flooding the report: after this many, a summary line follows.
inline constexpr int kMaxRepeats = 20;

struct CheckContext {
  const PstFile& file;
  CheckReport& report;
  void Add(std::string where, std::string what) {
    report.findings.push_back({std::move(where), std::move(what)});
  }
  void Note(std::string where, std::string what) {
    report.notes.push_back({std::move(where), std::move(what)});
  }
};

void CheckHeader(CheckContext& ctx);
void CheckBlocksAndReferences(CheckContext& ctx);
void CheckAllocationMaps(CheckContext& ctx);
void CheckNodes(CheckContext& ctx);
void CheckMessaging(CheckContext& ctx);

}  // namespace pst::read
