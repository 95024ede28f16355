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
  if (fs::kPathSeparator != kStoreSeparator) std::replace(path.begin(), path.end(), fs::kPathSeparator, kStoreSeparator);
  return path;
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// The text after the first `marker`, up to a second one if there is one.
std::string AfterFirst(const std::string& s, const std::string& marker) {
  const std::size_t start = s.find(marker) + marker.size();
  const std::size_t end = s.find(marker, start);
  return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A folder path whose last element is one of these is never created below the top.
bool IsSpecialNested(const std::string& p) {
  if (p == "\\Inbox") return true;
  for (const char* name : {"\\Calendar", "\\Contacts", "\\Emailed Contacts", "\\Tasks", "\\Sent", "\\Notebook",
                           "\\Conversations"}) {
    if (EndsWith(p, name)) return true;
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
  const std::string top = "\\\\" + StoreDisplayName;
  return StartsWith(relative, "\\") ? top + relative : top + "\\" + relative;
}

std::string Conversion::FoldDeepPath(const std::string& relative) {
  const bool trailing = !relative.empty() && relative.back() == kStoreSeparator;
  const std::vector<std::string> elements = Elements(relative);
  if (elements.size() <= static_cast<std::size_t>(kMaxFolderLevels)) return relative;
  std::string folded;
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(kMaxFolderLevels); ++i) folded += elements[i] + "\\";
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
    report_.notes.push_back("The folder \"" + shown + "\" lies deeper than " + std::to_string(kMaxFolderLevels) +
                            " levels; its messages are in the folder \"" + last + "\" at the deepest level.");
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
  if (SourceRoot.empty()) {
    SourceRoot = sFolderPath;
    if (SourceRoot.empty() || SourceRoot.back() != fs::kPathSeparator) SourceRoot += fs::kPathSeparator;
  }

  const std::size_t n = shared_.FolderList.Count();
  FolderPaths.assign(n + 1, std::string());
  std::size_t k = 0;
  std::string r;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string folder(shared_.FolderList.Item(i));
    Yield();
    if (fs::FolderExists(folder)) {
      r = ToStoreSeparators(StartsWith(folder, SourceRoot) ? folder.substr(SourceRoot.size()) : folder);
      if (!r.empty()) {
        if (r.back() == kStoreSeparator) r.pop_back();
        FolderPaths[k++] = FoldDeepPath(r);
      }
    }
    progress.LblCurrentDBX = "Reading Folder(s)... " + r;
  }
  const YieldFn yield = [this] { Yield(); };
  QuickSortPaths(FolderPaths, 0, static_cast<std::int32_t>(n), yield);
  Yield();
  RemoveDuplicatePaths(FolderPaths, yield);
  Yield();

  progress.LblCurrentDBX = "Creating Outlook Folders...";
  const std::size_t count = FolderPaths.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::string p = FolderPaths[i];
    if (p.empty() || Contains(p, "!")) continue;
    Yield();
    if (Contains(p, ":\\")) {
      p = AfterFirst(p, ":\\");
      FolderPaths[i] = p;
    }
    if (!Contains(p, "\\")) {
      CreateTopLevelFolder(p);
      FolderPaths[i] = p;
    } else {
      CreateNestedFolder(p);
    }
  }
}

void Conversion::CreateTopLevelFolder(std::string& p) {
  auto store = session_->GetStoreFromID(shared_.StoreEntryID);
  if (!store.ok()) return;
  if (p == "Inbox") p = InboxName;
  if (p == "Sent") p = SentName;
  auto root = store.value()->IPMRootFolder();
  if (!root.ok()) return;
  std::string found;
  if (auto names = root.value()->FolderNames(); names.ok()) {
    for (const std::string& name : names.value()) {
      Yield();
      if (name == p) found = name;
    }
  }
  if (found.empty() && p != "Emailed Contacts") {
    if (p != "Sent" && p != "Inbox") (void)root.value()->AddFolder(p, kFolderKindMail);
    host_.Progress().LblCurrentDBX = "Creating Outlook Folders... " + p;
  }
  Yield();
}

void Conversion::CreateNestedFolder(const std::string& p) {
  if (IsSpecialNested(p)) return;
  const std::size_t lastSep = p.find_last_of(kStoreSeparator);
  LeafName = p.substr(lastSep + 1);
  const std::string q = p.substr(0, p.size() - LeafName.size() - 1);
  const std::size_t prevSep = q.find_last_of(kStoreSeparator);
  const std::string c = prevSep == std::string::npos ? q : q.substr(prevSep + 1);

  if (c != "Inbox") {
    Yield();
    ParentPath = q;
  } else {
    ParentPath = DefaultFolderName(kDefaultFolderInbox);
  }
  if (ParentPath == "Sent" || StartsWith(ParentPath, "Sent\\")) {
    if (StartsWith(ParentPath, "Sent\\")) {
      ParentPath = ReplaceAll(ParentPath, "Sent\\", SentName + "\\");
    } else {
      ParentPath = DefaultFolderName(kDefaultFolderSent);
    }
  } else {
    Yield();
    ParentPath = q;
    if (ParentPath == "Inbox") ParentPath = InboxName;
    if (ParentPath == "Sent") ParentPath = SentName;
  }
  if (Contains(ParentPath, "\\Inbox\\")) ParentPath = InboxName + "\\" + AfterFirst(ParentPath, "\\Inbox\\");

  auto parent = FolderWithRecovery(ParentPath);
  if (!parent.ok()) return;
  Yield();
  (void)parent.value()->AddFolder(LeafName, kFolderKindMail);
  Yield();
  host_.Progress().LblCurrentDBX = "Creating Outlook Folders... " + LeafName;
}

quill::Result<std::unique_ptr<StoreFolder>> Conversion::FolderWithRecovery(const std::string& relative) {
  auto folder = session_->GetFolderFromPath(StorePath(relative));
  if (folder.ok()) return folder;
  // Each pass creates the element the store reported missing, under the element before it on the
  // path; the element reported must lie further along the path every pass, so the passes end.
  const std::vector<std::string> elements = Elements(relative);
  std::size_t from = 0;
  while (!folder.ok()) {
    MissingName = MissingNameOf(folder.status().message());
    Yield();
    std::size_t j = from;
    while (j < elements.size() && elements[j] != MissingName) ++j;
    if (j == elements.size()) return folder.status();  // not a missing element: give up
    std::string parentPath;
    for (std::size_t e = 0; e < j; ++e) parentPath += "\\" + elements[e];
    auto base = session_->GetFolderFromPath(StorePath(parentPath));
    if (!base.ok()) return base.status();
    (void)base.value()->AddFolder(MissingName, kFolderKindMail);
    from = j + 1;
    folder = session_->GetFolderFromPath(StorePath(relative));
  }
  return folder;
}

}  // namespace engine
