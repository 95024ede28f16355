// The folder mapping: the source's subfolders become mail folders of the store. Inbox and Sent go
// onto the store's own default folders, and a few special names are never created.
#include <algorithm>

#include "engine/conversion.h"
#include "engine/path_lists.h"
#include "engine/strings.h"
#include "fs/file_search.h"
#include "fs/path_forms.h"

namespace engine {
namespace {

constexpr char kStoreSeparator = '\\';

// A file-system path relative to the source root, in the store's form.
std::string ToStoreSeparators(std::string path) {
  if (fs::kPathSeparator != kStoreSeparator)
    std::replace(path.begin(), path.end(), fs::kPathSeparator, kStoreSeparator);
  return path;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The text after the first `marker`, up to a second one if there is one.
std::string AfterFirst(const std::string& text, const std::string& marker) {
  const std::size_t start = text.find(marker) + marker.size();
  const std::size_t end = text.find(marker, start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A folder path whose last element is one of these is never created below the top.
bool IsSpecialNested(const std::string& relative) {
  if (relative == "\\Inbox") return true;
  for (const char* name : {"\\Calendar", "\\Contacts", "\\Emailed Contacts", "\\Tasks", "\\Sent",
                           "\\Notebook", "\\Conversations"}) {
    if (EndsWith(relative, name)) return true;
  }
  return false;
}

// The element name of a store failure 'Folder "NAME" does not exist'.
std::string MissingNameOf(const std::string& description) {
  return ReplaceAll(ReplaceAll(description, "Folder \"", ""), "\" does not exist", "");
}

std::vector<std::string> Elements(const std::string& relative) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find(kStoreSeparator, start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) out.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string Conversion::StorePath(const std::string& relative) const {
  const std::string top = "\\\\" + storeDisplayName_;
  return StartsWith(relative, "\\") ? top + relative : top + "\\" + relative;
}

std::string Conversion::FoldDeepPath(const std::string& relative) {
  const bool trailing = !relative.empty() && relative.back() == kStoreSeparator;
  const std::vector<std::string> elements = Elements(relative);
  if (elements.size() <= static_cast<std::size_t>(kMaxFolderLevels)) return relative;
  std::string folded;
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(kMaxFolderLevels); ++i)
    folded += elements[i] + "\\";
  // The rest of the path becomes one name that reads as a path. Not with "/" or "\\": readers and
  // exports that turn folders into directories would take those for separators again.
  constexpr const char* kFoldedSeparator = " \u203A ";
  std::string last;
  for (std::size_t i = kMaxFolderLevels - 1; i < elements.size(); ++i) {
    last += (last.empty() ? "" : kFoldedSeparator) + elements[i];
  }
  folded += last;
  if (foldedFolders_.insert(folded).second) {
    // The end of the path says which folder it is; hundreds of levels before it would drown it.
    std::string shown;
    const std::size_t from = elements.size() > 3 ? elements.size() - 3 : 0;
    for (std::size_t i = from; i < elements.size(); ++i) shown += (i > from ? "\\" : "") + elements[i];
    if (from > 0) shown = "...\\" + shown;
    report_.notes.push_back("The folder \"" + shown + "\" lies deeper than " +
                            std::to_string(kMaxFolderLevels) + " levels; its messages are in the folder \"" +
                            last + "\" at the deepest level.");
  }
  return trailing ? folded + "\\" : folded;
}

std::string Conversion::DefaultFolderName(int which) {
  auto store = session_->GetStoreFromID(shared_.StoreEntryID);
  if (!store.ok()) return std::string();
  auto folder = store.value()->GetDefaultFolder(which);
  return folder.ok() ? folder.value()->Name() : std::string();
}

void Conversion::MapFolders(const std::string& sFolderPath) {
  ProgressControls& progress = host_.Progress();
  progress.LblCurrentDBX = "Reading Folder(s)...";
  // The root with its separator: what is cut from the front of every path found below it, so that
  // a top-level "Sent" is "Sent" however the root was written.
  if (sourceRoot_.empty()) {
    sourceRoot_ = sFolderPath;
    if (sourceRoot_.empty() || sourceRoot_.back() != fs::kPathSeparator) sourceRoot_ += fs::kPathSeparator;
  }

  // The folders' paths relative to the root, in the store's form; one more entry than there are
  // folders, as the sort below takes its upper bound inclusive.
  const std::size_t folderCount = shared_.FolderList.Count();
  std::vector<std::string> folderPaths(folderCount + 1, std::string());
  std::size_t filled = 0;
  std::string relative;
  for (std::size_t i = 0; i < folderCount; ++i) {
    const std::string folder(shared_.FolderList.Item(i));
    Yield();
    if (fs::FolderExists(folder)) {
      relative =
          ToStoreSeparators(StartsWith(folder, sourceRoot_) ? folder.substr(sourceRoot_.size()) : folder);
      if (!relative.empty()) {
        if (relative.back() == kStoreSeparator) relative.pop_back();
        folderPaths[filled++] = FoldDeepPath(relative);
      }
    }
    progress.LblCurrentDBX = "Reading Folder(s)... " + relative;
  }
  const YieldFn yield = [this] { Yield(); };
  QuickSortPaths(folderPaths, 0, static_cast<std::int32_t>(folderCount), yield);
  Yield();
  RemoveDuplicatePaths(folderPaths, yield);
  Yield();

  progress.LblCurrentDBX = "Creating Outlook Folders...";
  for (std::string path : folderPaths) {
    if (path.empty() || Contains(path, "!")) continue;
    Yield();
    if (Contains(path, ":\\")) path = AfterFirst(path, ":\\");
    if (!Contains(path, "\\")) {
      CreateTopLevelFolder(path);
    } else {
      CreateNestedFolder(path);
    }
  }
}

void Conversion::CreateTopLevelFolder(const std::string& relative) {
  std::string name = relative;
  auto store = session_->GetStoreFromID(shared_.StoreEntryID);
  if (!store.ok()) return;
  if (name == "Inbox") name = inboxName_;
  if (name == "Sent") name = sentName_;
  auto root = store.value()->IPMRootFolder();
  if (!root.ok()) return;
  bool exists = false;
  if (auto names = root.value()->FolderNames(); names.ok()) {
    for (const std::string& existing : names.value()) {
      Yield();
      if (existing == name) exists = true;
    }
  }
  if (!exists && name != "Emailed Contacts") {
    // A folder that could not be made loses no message: the import loop looks each message's
    // folder up again, creates what is missing along its path, and reports the message if that
    // fails too. Only an empty source folder would be missing from the store.
    if (name != "Sent" && name != "Inbox") (void)root.value()->AddFolder(name, kFolderKindMail);
    host_.Progress().LblCurrentDBX = "Creating Outlook Folders... " + name;
  }
  Yield();
}

void Conversion::CreateNestedFolder(const std::string& relative) {
  if (IsSpecialNested(relative)) return;
  const std::size_t lastSep = relative.find_last_of(kStoreSeparator);
  const std::string leafName = relative.substr(lastSep + 1);
  const std::string written =
      relative.substr(0, relative.size() - leafName.size() - 1);  // the parent as found
  const std::size_t prevSep = written.find_last_of(kStoreSeparator);
  const std::string parentLeaf = prevSep == std::string::npos ? written : written.substr(prevSep + 1);

  std::string parentPath;
  if (parentLeaf != "Inbox") {
    Yield();
    parentPath = written;
  } else {
    parentPath = DefaultFolderName(kDefaultFolderInbox);
  }
  if (parentPath == "Sent" || StartsWith(parentPath, "Sent\\")) {
    if (StartsWith(parentPath, "Sent\\")) {
      parentPath = ReplaceAll(parentPath, "Sent\\", sentName_ + "\\");
    } else {
      parentPath = DefaultFolderName(kDefaultFolderSent);
    }
  } else {
    Yield();
    parentPath = written;
    if (parentPath == "Inbox") parentPath = inboxName_;
    if (parentPath == "Sent") parentPath = sentName_;
  }
  if (Contains(parentPath, "\\Inbox\\")) parentPath = inboxName_ + "\\" + AfterFirst(parentPath, "\\Inbox\\");

  auto parent = FolderWithRecovery(parentPath);
  if (!parent.ok()) return;
  Yield();
  // As for a top-level folder: a message whose folder is missing has it created on import.
  (void)parent.value()->AddFolder(leafName, kFolderKindMail);
  Yield();
  host_.Progress().LblCurrentDBX = "Creating Outlook Folders... " + leafName;
}

quill::Result<std::unique_ptr<StoreFolder>> Conversion::FolderWithRecovery(const std::string& relative) {
  auto folder = session_->GetFolderFromPath(StorePath(relative));
  if (folder.ok()) return folder;
  // Each pass creates the element the store reported missing, under the element before it on the
  // path; the element reported must lie further along the path every pass, so the passes end.
  const std::vector<std::string> elements = Elements(relative);
  std::size_t from = 0;
  while (!folder.ok()) {
    const std::string missingName = MissingNameOf(folder.status().message());
    Yield();
    std::size_t missing = from;
    while (missing < elements.size() && elements[missing] != missingName) ++missing;
    if (missing == elements.size()) return folder.status();  // not a missing element: give up
    std::string parentPath;
    for (std::size_t e = 0; e < missing; ++e) parentPath += "\\" + elements[e];
    QUILL_ASSIGN_OR_RETURN(const std::unique_ptr<StoreFolder> base,
                           session_->GetFolderFromPath(StorePath(parentPath)));
    // Whether it was made is told by the look-up below: the store then names the next missing
    // element, or this one again, which ends the passes.
    (void)base->AddFolder(missingName, kFolderKindMail);
    from = missing + 1;
    folder = session_->GetFolderFromPath(StorePath(relative));
  }
  return folder;
}

}  // namespace engine
