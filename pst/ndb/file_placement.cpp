#include "pst/ndb/file_placement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "fs/path_forms.h"
#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

// A slash ends a folder's name everywhere, and the system's own separator too (Windows: '\\').
constexpr char kSeparators[] = {'/', fs::kPathSeparator, '\0'};

// The longest name a folder entry may have, in bytes: NAME_MAX on POSIX systems, 255 UTF-16 units
// on Windows, of which no more than 255 bytes of UTF-8 are sure to fit.
constexpr std::size_t kNameMax = 255;

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The temporary file's name: hidden, the same for every writer of one target, and short.
//
// Being the same for one target makes the temporary file the lock that keeps two runs from writing
// that target at once (flock, held for as long as the writer has the file open): it is there
// whenever a writer works on the target, unlike the target itself, which may not exist yet and
// which the final rename replaces (a lock on the old target would go with it); and a separate lock
// file would be one more file to leave behind. The same lock tells a live run's file from one that
// a killed run left: only the latter's lock can be taken. Being short keeps the name within the
// file system's limit whatever the target's name. The hash only has to keep apart the targets of
// one folder; were two to collide, the second would be refused as if already being written.
constexpr char kTempPrefix[] = ".quillsort-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kTempHashDigits = 16;
constexpr std::size_t kTempNameSize = sizeof kTempPrefix - 1 + kTempHashDigits + sizeof kTempSuffix - 1;

std::string TemporaryName(const std::string& targetName) {
  std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
  for (unsigned char c : targetName) {
    h ^= c;
    h *= 0x100000001b3u;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string name = kTempPrefix;
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kDigits[(h >> shift) & 15]);
  return name + kTempSuffix;
}

bool IsTemporaryName(const char* name) {
  const std::size_t n = std::strlen(name);
  if (n != kTempNameSize || std::strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) != 0) return false;
  if (std::strcmp(name + n - (sizeof kTempSuffix - 1), kTempSuffix) != 0) return false;
  for (std::size_t i = sizeof kTempPrefix - 1; i < sizeof kTempPrefix - 1 + kTempHashDigits; ++i) {
    if (std::strchr("0123456789abcdef", name[i]) == nullptr || name[i] == '\0') return false;
  }
  return true;
}

// Takes the lock of an open temporary file and makes sure it is still the one under `name`: it may
// have been placed or removed by its owner between our open and our lock.
// kUnlockable: the file system keeps no locks (ENOLCK from a network file system whose lock
// service is down, say). Such a file is ours to write but never taken for stale.
enum class Lock { kTaken, kHeld, kGone, kUnlockable };
Lock LockTemporary(fs::Directory& dir, const std::string& name, fs::WritableFile& file, fs::FileInfo* info) {
  const int err = file.TryLock();
  if (err == EWOULDBLOCK) return Lock::kHeld;
  fs::FileInfo named;
  if (file.Stat(info) != 0 || dir.Stat(name, false, &named) != 0 || !info->SameFile(named)) {
    return Lock::kGone;
  }
  return err != 0 ? Lock::kUnlockable : Lock::kTaken;
}

// Removes the temporary files that runs killed while writing left in the folder: ours by their
// name, and stale because no writer holds their lock. Best effort: what cannot be removed stays.
void RemoveStaleTemporaryFiles(fs::Directory& dir) {
  std::vector<std::string> names;
  if (dir.List(&names) != 0) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name.c_str())) continue;
    std::unique_ptr<fs::WritableFile> file;
    if (dir.OpenFile(name, fs::OpenMode::kExistingForLocking, 0, &file) != 0) continue;
    fs::FileInfo info;
    if (LockTemporary(dir, name, *file, &info) == Lock::kTaken && info.kind == fs::FileInfo::Kind::kRegular) {
      dir.Remove(name);
    }
  }
}

// "name (n).ext", within the file system's limit on a name's length: the stem gives way, never
// the number or the extension.
std::string NumberedName(const std::string& name, int n) {
  const std::size_t dot = name.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  std::string stem = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot) : "";
  const std::string number = " (" + std::to_string(n) + ")";
  const std::size_t room = kNameMax - std::min<std::size_t>(kNameMax, number.size() + ext.size());
  if (stem.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    stem.resize(cut);
  }
  return stem + number + ext;
}

}  // namespace

quill::Result<std::unique_ptr<FilePlacement>> FilePlacement::Create(const std::string& targetPath,
                                                                    fs::Env& env) {
  if (targetPath.empty()) return quill::Status::InvalidArgument("empty target path");
  std::unique_ptr<FilePlacement> p(new FilePlacement);
  p->targetPath_ = targetPath;
  const std::size_t slash = targetPath.find_last_of(kSeparators);
  p->targetName_ = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
  if (p->targetName_.empty() || p->targetName_ == "." || p->targetName_ == "..") {
    return quill::Status::IOError("Not a regular file: " + targetPath);
  }
  auto failure = [&](int err) { return quill::Status::IOError(fs::ErrorText(err) + ": " + targetPath); };
  // A folder we may write in but not list still takes the file; listing it for stale files and
  // flushing its entries are then left out.
  if (const int err = env.OpenDirectory(ParentFolder(targetPath), &p->dir_); err != 0) return failure(err);
  std::uint32_t mode;
  if (const int err = p->dir_->Stat(p->targetName_, true, &p->replaced_); err == 0) {
    if (p->replaced_.kind != fs::FileInfo::Kind::kRegular) {
      return quill::Status::IOError("Not a regular file: " + targetPath);
    }
    mode = p->replaced_.permissions;  // replacing a file keeps its permissions
    p->replaceable_ = true;
  } else if (err == ENOENT) {
    mode = env.NewFilePermissions();
  } else {
    return failure(err);
  }

  fs::Directory& dir = *p->dir_;
  RemoveStaleTemporaryFiles(dir);
  p->tempName_ = TemporaryName(p->targetName_);
  // The temporary file is created or, left by a killed run, found; it is ours once we hold its
  // lock and it is still the file under its name. A few rounds settle any race with another run.
  for (int round = 0; p->file_ == nullptr; ++round) {
    if (round == 8) return quill::Status::IOError("cannot create a temporary file beside " + targetPath);
    std::unique_ptr<fs::WritableFile> file;
    if (const int err = dir.OpenFile(p->tempName_, fs::OpenMode::kCreateOrOpen, 0600, &file); err != 0) {
      return failure(err);
    }
    fs::FileInfo info;
    switch (LockTemporary(dir, p->tempName_, *file, &info)) {
      case Lock::kHeld:
        return quill::Status::AlreadyExists("another conversion is writing " + targetPath);
      case Lock::kGone:
        continue;
      case Lock::kTaken:
      case Lock::kUnlockable:  // written all the same, only without the guard against a second run
        break;
    }
    // Never reuse what a killed run left: it may share its data with a placed file (a link).
    if (info.size != 0 || info.links != 1 || info.kind != fs::FileInfo::Kind::kRegular) {
      dir.Remove(p->tempName_);
      continue;
    }
    p->file_ = std::move(file);
  }
  p->tempPath_ = ParentFolder(targetPath) + "/" + p->tempName_;
  // From here on the destructor removes the file.
  if (const int err = p->file_->SetPermissions(mode); err != 0) return failure(err);
  // Named for a hasty exit before anything slow (the writer's buffers and thread) can delay it.
  p->liveSlot_ = internal::RegisterLiveTemporaryFile(dir, p->tempName_);
  return p;
}

FilePlacement::~FilePlacement() { Abandon(); }

void FilePlacement::Abandon() {
  // The name goes before the lock: a run waiting for it then finds the name free, never our data.
  // And only if it is still ours: removed by RemoveLiveTemporaryFiles, the name may since have
  // been taken by another run's file.
  if (!tempPath_.empty() && file_ != nullptr) {
    fs::FileInfo mine, named;
    if (file_->Stat(&mine) == 0 && dir_->Stat(tempName_, false, &named) == 0 && mine.SameFile(named)) {
      dir_->Remove(tempName_);
    }
  }
  internal::UnregisterLiveTemporaryFile(liveSlot_);
  liveSlot_ = -1;
  file_.reset();
  dir_.reset();
  tempPath_.clear();
}

quill::Status FilePlacement::IoError(const std::string& what, int err) const {
  return quill::Status::IOError(what + " failed (" + fs::ErrorText(err) + "): " + targetPath_);
}

quill::Status FilePlacement::Place(bool sync) {
  if (file_ == nullptr) return quill::Status::InvalidArgument("nothing to place: " + targetPath_);
  // What closing will report (a network file system's failed write-back) is known before the file
  // takes the target's place; the file itself stays open, and locked, until it is there.
  if (const int err = file_->CheckClose(); err != 0) return IoError("close", err);
  QUILL_RETURN_IF_ERROR(MoveIntoPlace());
  tempPath_.clear();
  internal::UnregisterLiveTemporaryFile(liveSlot_);
  liveSlot_ = -1;
  if (sync) {
    // The rename itself must reach the disk, or a crash could bring back the old target. The file
    // is in place either way, so a failure here is no failure of the file.
    dir_->Sync();
  }
  // Closing now only gives up the lock: what it could report was asked above.
  file_->Close();
  file_.reset();
  dir_.reset();
  return quill::Status::Ok();
}

quill::Status FilePlacement::MoveIntoPlace() {
  fs::FileInfo now;
  const int lookedUp = dir_->Stat(targetName_, true, &now);
  // What cannot be looked at cannot be known to be the file we may replace, nor to be free.
  if (lookedUp != 0 && lookedUp != ENOENT) return IoError("rename", lookedUp);
  const bool present = lookedUp == 0;
  if (present && replaceable_ && now.SameFile(replaced_)) {
    // Still the file the caller agreed to replace. (Another file can take its place only in the
    // moment between this look and the rename; the lock keeps our own runs out of it.)
    if (const int err = dir_->Rename(tempName_, targetName_, true); err != 0) return IoError("rename", err);
    writtenPath_ = targetPath_;
    return quill::Status::Ok();
  }
  // The target was free when we started, or holds a file we were never allowed to replace: the
  // result goes to the first free name, which the system checks and takes in one step.
  const std::string folder = targetPath_.substr(0, targetPath_.size() - targetName_.size());
  for (int n = 1; n <= 10000; ++n) {
    const std::string name = n == 1 ? targetName_ : NumberedName(targetName_, n);
    const int err = fs::MoveWithoutReplacing(*dir_, tempName_, name);
    if (err == 0) {
      writtenPath_ = folder + name;
      return quill::Status::Ok();
    }
    if (err != EEXIST) return IoError("rename", err);
  }
  return IoError("rename", EEXIST);
}

}  // namespace pst::ndb
