#include "pst/read/checker.h"

#include "pst/read/check_context.h"

namespace pst::read {

CheckReport CheckStore(const PstFile& file) {
  CheckReport report;
  report.findings = file.findings();  // faults the B-tree walk met on opening
  report.nodes = file.nodes().size();
  report.blocks = file.blocks().size();
  report.pages = file.pages().size();
  CheckContext ctx{file, report};
  CheckHeader(ctx);
  CheckBlocksAndReferences(ctx);
  CheckAllocationMaps(ctx);
  CheckNodes(ctx);
  CheckMessaging(ctx);
  return report;
}

Result<CheckReport> CheckFile(const std::string& path) {
  QUILL_ASSIGN_OR_RETURN(const std::unique_ptr<PstFile> file, PstFile::Open(path));
  return CheckStore(*file);
}

}  // namespace pst::read
