// The POSIX backend of the attribute query and the directory search.
//
// Paths are byte strings, handed to the system as they are (so a name that is not valid UTF-8
// still works). Paths longer than the system's PATH_MAX are reached one component at a time with
// openat, which is what the long path form achieves for the Windows calls.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "fs/file_search.h"

namespace fs {
namespace {

// A directory descriptor and the name of an entry in it, together naming one path.
class Anchor {
 public:
  explicit Anchor(const std::string& path) {
    if (path.size() < PATH_MAX - 1) {
      leaf_ = path;
      return;
    }
    // Walk all but the last component; the kernel refuses the whole path in one piece.
    std::size_t pos = 0;
    fd_ = open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const std::size_t end = path.find_last_of('/');
    while (fd_ >= 0 && end != std::string::npos && pos < end) {
      std::size_t next = path.find('/', pos);
      if (next > end) next = end;
      if (next > pos) {
        const int child = openat(fd_, path.substr(pos, next - pos).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        close(fd_);
        fd_ = child;
      }
      pos = next + 1;
    }
    leaf_ = end == std::string::npos ? path : path.substr(end + 1);
    if (fd_ < 0) failed_ = true;
  }
  ~Anchor() {
    if (fd_ >= 0) close(fd_);
  }
  Anchor(const Anchor&) = delete;
  Anchor& operator=(const Anchor&) = delete;

  bool failed() const { return failed_; }
  int dir() const { return fd_ >= 0 ? fd_ : AT_FDCWD; }
  // A path that ends with a separator names the directory itself.
  const char* leaf() const { return leaf_.empty() ? "." : leaf_.c_str(); }

 private:
  int fd_ = -1;
  std::string leaf_;
  bool failed_ = false;
};

bool IsDotName(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A dot-name is what Linux hides from listings, the closest thing to the hidden attribute.
std::uint32_t HiddenBit(const char* name) { return name[0] == '.' && !IsDotName(name) ? kAttrHidden : 0; }

std::uint32_t AttributesOf(const struct stat& st, const char* name) {
  // Read-only is left out: Linux permissions depend on who asks, and the directory listing cannot
  // tell it, so the answer would depend on which way the question was answered.
  const std::uint32_t attrs = (S_ISDIR(st.st_mode) ? kAttrDirectory : 0) | HiddenBit(name);
  return attrs == 0 ? kAttrNormal : attrs;
}

// Attributes of `name` in the open directory `dirfd`; a link is followed (a link to a folder counts
// as a folder, as a junction does) and also marked as a reparse point.
std::uint32_t AttributesAt(int dirfd, const char* name, bool isLink) {
  struct stat st;
  if (fstatat(dirfd, name, &st, 0) != 0) {
    // A dangling link is still an entry; anything else that cannot be queried has failed.
    return isLink ? (kAttrReparsePoint | kAttrNormal) : kInvalidAttributes;
  }
  return AttributesOf(st, name) | (isLink ? kAttrReparsePoint : 0);
}

const char* LeafName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path.c_str() : path.c_str() + slash + 1;
}

struct Search {
  DIR* dir = nullptr;
  std::string pattern;
  unsigned generation = 0;  // of the recent folder, when this search opened it
};

// The folder most recently opened for a search, and the entry its search delivered last. A walk
// queries the attributes of every entry right after the search has listed it: answering from the
// directory listing itself when it tells a plain file or folder for sure, and otherwise looking
// the name up relative to the open folder, spares the kernel resolving the whole path again,
// which is most of the cost of a walk. Links and entries of unknown type always get a real query.
class RecentFolder {
 public:
  ~RecentFolder() { Forget(); }

  // Returns the generation that the search of this folder must present to record its entries.
  unsigned Remember(const std::string& folder, int fd) {
    Forget();
    fd_ = dup(fd);
    if (fd_ >= 0) folder_ = folder;
    return ++generation_;
  }

  void SetLastEntry(unsigned generation, const char* name, std::uint32_t attrs) {
    if (generation != generation_) return;
    lastName_ = name;
    lastAttrs_ = attrs;
  }

  // The attributes of `path` when it names an entry directly in the folder; false otherwise.
  bool Query(const std::string& path, std::uint32_t& attrs) const {
    const std::size_t n = folder_.size();
    if (fd_ < 0 || path.size() <= n || path.compare(0, n, folder_) != 0) return false;
    if (path.find('/', n) != std::string::npos) return false;
    const char* leaf = path.c_str() + n;
    if (lastAttrs_ != kInvalidAttributes && lastName_ == leaf) {
      attrs = lastAttrs_;
      return true;
    }
    attrs = AttributesAt(fd_, leaf, IsLinkAt(fd_, leaf));
    return true;
  }

 private:
  static bool IsLinkAt(int fd, const char* leaf) {
    struct stat st;
    return fstatat(fd, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  }

  void Forget() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    folder_.clear();
    lastName_.clear();
    lastAttrs_ = kInvalidAttributes;
  }

  std::string folder_;  // ends with a separator
  int fd_ = -1;
  unsigned generation_ = 0;
  std::string lastName_;
  std::uint32_t lastAttrs_ = kInvalidAttributes;  // invalid: no entry is known for sure
};

RecentFolder& Recent() {
  static RecentFolder recent;
  return recent;
}

// Moves the search to its next matching entry; false when none is left.
bool Advance(Search& search, FindEntry& entry) {
  while (dirent* d = readdir(search.dir)) {
    if (!MatchesPattern(search.pattern, d->d_name)) continue;
    entry.Name = d->d_name;
    std::uint32_t known = kInvalidAttributes;
    switch (d->d_type) {
      // The entry's type saves a query for the common kinds.
      case DT_DIR:
        known = kAttrDirectory | HiddenBit(d->d_name);
        entry.Attributes = known;
        break;
      case DT_REG:
        known = HiddenBit(d->d_name) ? kAttrHidden : kAttrNormal;
        entry.Attributes = known;
        break;
      default:
        entry.Attributes = AttributesAt(dirfd(search.dir), d->d_name, d->d_type == DT_LNK);
        break;
    }
    Recent().SetLastEntry(search.generation, d->d_name, known);
    entry.Found = true;
    return true;
  }
  return false;
}

}  // namespace

ApiCaps& TheApiCaps() {
  static ApiCaps caps;
  return caps;
}

void InitApiCaps() {
  ApiCaps& caps = TheApiCaps();
  caps.Initialized = true;
  // There is no version query to make here: the byte-exact path calls are always available.
  caps.IsNT = true;
}

std::uint32_t GetAttributes(const std::string& path) {
  if (!TheApiCaps().Initialized) InitApiCaps();
  if (path.empty()) return kInvalidAttributes;
  std::uint32_t attrs = 0;
  if (Recent().Query(path, attrs)) return attrs;
  Anchor anchor(path);
  struct stat st;
  if (anchor.failed()) return kInvalidAttributes;
  if (fstatat(anchor.dir(), anchor.leaf(), &st, 0) == 0) return AttributesOf(st, LeafName(path));
  if (fstatat(anchor.dir(), anchor.leaf(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return kAttrReparsePoint | kAttrNormal;
  }
  return kInvalidAttributes;
}

bool GetFileId(const std::string& path, FileId& id) {
  Anchor anchor(path);
  struct stat st;
  if (anchor.failed() || fstatat(anchor.dir(), anchor.leaf(), &st, 0) != 0) return false;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return true;
}

SearchHandle FindFirst(const std::string& spec, FindEntry& entry) {
  entry.Found = false;
  entry.Handle = kInvalidHandle;
  entry.Error = 0;
  if (spec.size() >= 6 && strncasecmp(spec.c_str(), "ftp://", 6) == 0) return kInvalidHandle;
  if (!TheApiCaps().Initialized) InitApiCaps();

  const std::size_t slash = spec.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string("./") : spec.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? spec : spec.substr(slash + 1);
  if (pattern.empty()) return kInvalidHandle;

  Anchor anchor(folder);
  if (anchor.failed()) {
    entry.Error = errno;
    return kInvalidHandle;
  }
  const int fd = openat(anchor.dir(), anchor.leaf(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    entry.Error = errno;
    return kInvalidHandle;
  }
  const unsigned generation = folder.back() == '/' ? Recent().Remember(folder, fd) : 0;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    entry.Error = errno;
    close(fd);
    return kInvalidHandle;
  }
  auto* search = new Search{dir, pattern, generation};
  errno = 0;
  if (!Advance(*search, entry)) {
    entry.Error = errno;  // readdir leaves errno alone at the end of the folder
    closedir(dir);
    delete search;
    return kInvalidHandle;
  }
  entry.Handle = reinterpret_cast<SearchHandle>(search);
  return entry.Handle;
}

bool FindNext(FindEntry& entry) {
  if (!TheApiCaps().Initialized) InitApiCaps();
  if (entry.Handle == kInvalidHandle || entry.Handle == 0) {
    entry.Found = false;
    return false;
  }
  if (Advance(*reinterpret_cast<Search*>(entry.Handle), entry)) return true;
  FindEnd(entry);
  return false;
}

void FindEnd(FindEntry& entry) {
  if (entry.Handle != kInvalidHandle && entry.Handle != 0) {
    auto* search = reinterpret_cast<Search*>(entry.Handle);
    closedir(search->dir);
    delete search;
  }
  entry.Found = false;
  entry.Handle = kInvalidHandle;
}

std::string AbsoluteFolder(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return std::string();
  std::string result = absolute.lexically_normal().string();
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace fs
