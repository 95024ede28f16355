#include "fs/collector.h"

#include <cstring>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "fs/file_search.h"
#include "fs/path_forms.h"

namespace fs {
namespace {

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

quill::Status NextNumber(std::int32_t& counter, std::int32_t& taken) {
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    return quill::Status::InvalidArgument("Overflow: a counter of the collected paths passed 2147483647");
  }
  taken = counter++;
  return quill::Status::Ok();
}

// One folder on the walk: its path (ending with a separator), the subfolders found in it, and how
// many of those have been walked.
struct Frame {
  std::string path;
  std::vector<std::string> subfolders;
  std::size_t next = 0;
};

class Walker {
 public:
  Walker(const std::string& pattern, std::int32_t& fileCounter, std::int32_t& folderCounter,
         KeyedList& fileList, KeyedList& folderList, const CollectorHooks& hooks)
      : pattern_(pattern),
        fileCounter_(fileCounter),
        folderCounter_(folderCounter),
        fileList_(fileList),
        folderList_(folderList),
        hooks_(hooks) {}

  quill::Status Run(const std::string& root) {
    FirstVisit(root);
    std::vector<Frame> stack;
    QUILL_RETURN_IF_ERROR(Visit(root, stack));
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next == top.subfolders.size()) {
        stack.pop_back();
        continue;
      }
      Yield();
      const std::string child = top.path + top.subfolders[top.next++] + kPathSeparator;
      if (!FirstVisit(child)) continue;  // already walked through another way in
      QUILL_RETURN_IF_ERROR(Visit(child, stack));
    }
    return quill::Status::Ok();
  }

 private:
  void Yield() {
    if (hooks_.yield) hooks_.yield();
  }

  // True the first time a real directory is reached. A path that cannot be identified is always
  // walked: its search simply finds nothing.
  bool FirstVisit(const std::string& path) {
    FileId id;
    if (!GetFileId(path, id)) return true;
    return walked_.insert(id).second;
  }

  // Lists the subfolders and the files of `folder`, and pushes it for the descent.
  quill::Status Visit(const std::string& folder, std::vector<Frame>& stack) {
    Yield();
    Frame frame;
    frame.path = folder;
    QUILL_RETURN_IF_ERROR(ListSubfolders(folder, frame.subfolders));
    QUILL_RETURN_IF_ERROR(ListFiles(folder));
    if (!frame.subfolders.empty()) {
      Yield();
      stack.push_back(std::move(frame));
    }
    return quill::Status::Ok();
  }

  // A folder whose search failed for a reason other than finding nothing is named once.
  void ReportUnreadable(const std::string& folder, const FindEntry& entry) {
    if (entry.Error == 0 || !hooks_.folderUnreadable) return;
    if (!unreadable_.insert(folder).second) return;
    std::string shown = folder;
    if (shown.size() > 1 && shown.back() == kPathSeparator) shown.pop_back();
    hooks_.folderUnreadable(shown, std::strerror(entry.Error));
  }

  quill::Status ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    FindEntry entry;
    if (FindFirst(folder + "*", entry) == kInvalidHandle) {
      ReportUnreadable(folder, entry);
      return quill::Status::Ok();
    }
    quill::Status status;
    do {
      Yield();
      std::string name = CutAtNul(entry.Name);
      if (IsDotName(name)) continue;
      Yield();
      // Only the query on the full path decides, not what the search entry says.
      if ((GetAttributes(folder + name) & kAttrDirectory) == 0) continue;
      Yield();
      std::int32_t number = 0;
      status = NextNumber(folderCounter_, number);
      if (status.ok()) status = folderList_.Add(folder + name, "Z" + std::to_string(number));
      if (!status.ok()) break;
      names.push_back(std::move(name));
    } while (FindNext(entry));
    FindEnd(entry);
    return status;
  }

  quill::Status ListFiles(const std::string& folder) {
    FindEntry entry;
    if (FindFirst(folder + pattern_, entry) == kInvalidHandle) {
      ReportUnreadable(folder, entry);
      return quill::Status::Ok();
    }
    Yield();
    quill::Status status;
    do {
      Yield();
      std::string name = CutAtNul(entry.Name);
      const std::uint32_t attrs = GetAttributes(folder + name);
      if (IsDotName(name) || (attrs & kAttrDirectory) != 0) continue;
      Yield();
      std::int32_t number = 0;
      status = NextNumber(fileCounter_, number);
      if (status.ok()) status = fileList_.Add(folder + name, "K" + std::to_string(number));
      if (!status.ok()) break;
      if (hooks_.setCountCaption)
        hooks_.setCountCaption(std::to_string(number) + " Messages Queued for Conversion.");
    } while (FindNext(entry));
    FindEnd(entry);
    return status;
  }

  const std::string& pattern_;
  std::int32_t& fileCounter_;
  std::int32_t& folderCounter_;
  KeyedList& fileList_;
  KeyedList& folderList_;
  const CollectorHooks& hooks_;
  std::set<FileId> walked_;
  std::set<std::string> unreadable_;
};

}  // namespace

quill::Status CollectFiles(std::string& folder, const std::string& pattern, std::int32_t& fileCounter,
                           std::int32_t& folderCounter, KeyedList& fileList, KeyedList& folderList,
                           const CollectorHooks& hooks) {
  if (folder.empty() || folder.back() != kPathSeparator) folder.push_back(kPathSeparator);
  return Walker(pattern, fileCounter, folderCounter, fileList, folderList, hooks).Run(folder);
}

}  // namespace fs
