#include "fs/memory_env.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

namespace fs {
namespace {

struct Node {
  FileInfo::Kind kind = FileInfo::Kind::kRegular;
  std::vector<std::uint8_t> data;
  std::uint64_t inode = 0;
  std::uint32_t permissions = 0;
  std::uint32_t links = 0;  // names that lead to it
  std::int64_t modified = 0;
  const void* lockOwner = nullptr;  // the open file holding the lock
};

// "/a/b" for "a//b/./", "/a/c/../b" and the like.
std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    const std::string part = path.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string ParentOf(const std::string& normalized) {
  const std::size_t slash = normalized.find_last_of('/');
  return slash == 0 ? "/" : normalized.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
  return Normalize(dir == "/" ? "/" + name : dir + "/" + name);
}

}  // namespace

struct MemoryEnv::State {
  std::mutex mu;
  std::map<std::string, std::shared_ptr<Node>> entries;  // by normalized path
  std::uint64_t nextInode = 2;

  State() {
    auto root = std::make_shared<Node>();
    root->kind = FileInfo::Kind::kDirectory;
    root->inode = 1;
    root->permissions = 0755;
    root->links = 1;
    entries["/"] = root;
  }

  // REQUIRES: mu held.
  std::shared_ptr<Node> Find(const std::string& path) {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : it->second;
  }
  // Why `path` is not there: ENOTDIR when a file stands where a folder on the way should be.
  int Missing(const std::string& path) {
    for (std::string up = path; up != "/";) {
      up = ParentOf(up);
      if (std::shared_ptr<Node> n = Find(up)) return n->kind == FileInfo::Kind::kDirectory ? ENOENT : ENOTDIR;
    }
    return ENOENT;
  }
  // 0 when the folder that would hold `path` exists.
  int CheckParent(const std::string& path) {
    std::shared_ptr<Node> parent = Find(ParentOf(path));
    if (parent == nullptr) return Missing(ParentOf(path));
    return parent->kind == FileInfo::Kind::kDirectory ? 0 : ENOTDIR;
  }
  static FileInfo InfoOf(const Node& n) {
    FileInfo info;
    info.kind = n.kind;
    info.size = n.data.size();
    info.device = 1;
    info.inode = n.inode;
    info.permissions = n.permissions;
    info.links = n.links;
    info.modified = n.modified;
    return info;
  }
  int Stat(const std::string& path, FileInfo* info) {
    std::lock_guard<std::mutex> lock(mu);
    std::shared_ptr<Node> n = Find(path);
    if (n == nullptr) return Missing(path);
    *info = InfoOf(*n);
    return 0;
  }
};

namespace {

using State = MemoryEnv::State;

int ReadFrom(State& state, const Node& node, std::uint64_t offset, void* data, std::size_t size,
             std::size_t* got) {
  std::lock_guard<std::mutex> lock(state.mu);
  *got = 0;
  if (offset >= node.data.size()) return 0;
  *got = static_cast<std::size_t>(std::min<std::uint64_t>(size, node.data.size() - offset));
  std::memcpy(data, node.data.data() + offset, *got);
  return 0;
}

class MemoryReadableFile final : public ReadableFile {
 public:
  MemoryReadableFile(std::shared_ptr<State> state, std::shared_ptr<Node> node)
      : state_(std::move(state)), node_(std::move(node)) {}
  int Read(void* data, std::size_t size, std::size_t* got) override {
    const int err = ReadFrom(*state_, *node_, position_, data, size, got);
    position_ += *got;
    return err;
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    return ReadFrom(*state_, *node_, offset, data, size, got);
  }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<Node> node_;
  std::uint64_t position_ = 0;
};

class MemoryWritableFile final : public WritableFile {
 public:
  MemoryWritableFile(std::shared_ptr<State> state, std::shared_ptr<Node> node, bool writable)
      : state_(std::move(state)), node_(std::move(node)), writable_(writable) {}
  ~MemoryWritableFile() override { Close(); }

  int WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::size_t* written) override {
    *written = 0;
    if (node_ == nullptr || !writable_) return EBADF;
    std::lock_guard<std::mutex> lock(state_->mu);
    if (node_->data.size() < offset + size) node_->data.resize(offset + size);
    std::memcpy(node_->data.data() + offset, data, size);
    node_->modified = std::time(nullptr);
    *written = size;
    return 0;
  }
  int ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
    *got = 0;
    return node_ == nullptr ? EBADF : ReadFrom(*state_, *node_, offset, data, size, got);
  }
  int Truncate(std::uint64_t size) override {
    if (node_ == nullptr || !writable_) return node_ == nullptr ? EBADF : EINVAL;
    std::lock_guard<std::mutex> lock(state_->mu);
    node_->data.resize(size);
    return 0;
  }
  int Sync() override { return node_ == nullptr ? EBADF : 0; }
  void StartWriteback(std::uint64_t, std::uint64_t) override {}
  int Stat(FileInfo* info) override {
    if (node_ == nullptr) return EBADF;
    std::lock_guard<std::mutex> lock(state_->mu);
    *info = State::InfoOf(*node_);
    return 0;
  }
  int SetPermissions(std::uint32_t permissions) override {
    if (node_ == nullptr) return EBADF;
    std::lock_guard<std::mutex> lock(state_->mu);
    node_->permissions = permissions & 07777;
    return 0;
  }
  int TryLock() override {
    if (node_ == nullptr) return EBADF;
    std::lock_guard<std::mutex> lock(state_->mu);
    if (node_->lockOwner != nullptr && node_->lockOwner != this) return EWOULDBLOCK;
    node_->lockOwner = this;
    return 0;
  }
  int CheckClose() override { return node_ == nullptr ? EBADF : 0; }
  int Close() override {
    if (node_ == nullptr) return EBADF;
    {
      std::lock_guard<std::mutex> lock(state_->mu);
      if (node_->lockOwner == this) node_->lockOwner = nullptr;
    }
    node_.reset();
    return 0;
  }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<Node> node_;  // null once closed
  const bool writable_;
};

class MemoryDirectory final : public Directory {
 public:
  MemoryDirectory(std::shared_ptr<State> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}

  int Stat(const std::string& name, bool, FileInfo* info) override {
    return state_->Stat(Join(path_, name), info);
  }

  int OpenFile(const std::string& name, OpenMode mode, std::uint32_t permissions,
               std::unique_ptr<WritableFile>* file) override {
    const std::string path = Join(path_, name);
    std::lock_guard<std::mutex> lock(state_->mu);
    std::shared_ptr<Node> node = state_->Find(path);
    if (node == nullptr) {
      if (mode != OpenMode::kCreateOrOpen) return ENOENT;
      if (const int err = state_->CheckParent(path); err != 0) return err;
      node = std::make_shared<Node>();
      node->inode = state_->nextInode++;
      node->permissions = permissions & 07777;
      node->links = 1;
      node->modified = std::time(nullptr);
      state_->entries[path] = node;
    } else if (node->kind == FileInfo::Kind::kDirectory && mode == OpenMode::kCreateOrOpen) {
      return EISDIR;
    }
    *file = std::make_unique<MemoryWritableFile>(state_, node, mode == OpenMode::kCreateOrOpen);
    return 0;
  }

  int Rename(const std::string& from, const std::string& to, bool replace) override {
    const std::string source = Join(path_, from);
    const std::string target = Join(path_, to);
    std::lock_guard<std::mutex> lock(state_->mu);
    std::shared_ptr<Node> moved = state_->Find(source);
    if (moved == nullptr) return ENOENT;
    if (const int err = state_->CheckParent(target); err != 0) return err;
    if (source == target) return 0;
    if (std::shared_ptr<Node> taken = state_->Find(target)) {
      if (!replace) return EEXIST;
      if (taken->kind == FileInfo::Kind::kDirectory) return EISDIR;
      if (moved->kind == FileInfo::Kind::kDirectory) return ENOTDIR;
      --taken->links;
    }
    // A folder takes what is below it along.
    std::map<std::string, std::shared_ptr<Node>> below;
    const std::string prefix = source + "/";
    for (auto it = state_->entries.lower_bound(prefix);
         it != state_->entries.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
      below[target + it->first.substr(source.size())] = it->second;
      it = state_->entries.erase(it);
    }
    state_->entries.erase(source);
    state_->entries[target] = moved;
    state_->entries.insert(below.begin(), below.end());
    return 0;
  }

  int Link(const std::string& from, const std::string& to) override {
    const std::string source = Join(path_, from);
    const std::string target = Join(path_, to);
    std::lock_guard<std::mutex> lock(state_->mu);
    std::shared_ptr<Node> node = state_->Find(source);
    if (node == nullptr) return ENOENT;
    if (node->kind == FileInfo::Kind::kDirectory) return EPERM;
    if (state_->Find(target) != nullptr) return EEXIST;
    if (const int err = state_->CheckParent(target); err != 0) return err;
    ++node->links;
    state_->entries[target] = node;
    return 0;
  }

  int Remove(const std::string& name) override {
    const std::string path = Join(path_, name);
    std::lock_guard<std::mutex> lock(state_->mu);
    std::shared_ptr<Node> node = state_->Find(path);
    if (node == nullptr) return ENOENT;
    if (node->kind == FileInfo::Kind::kDirectory) return EISDIR;
    --node->links;
    state_->entries.erase(path);
    return 0;
  }

  int List(std::vector<std::string>* names) override {
    names->clear();
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->Find(path_) == nullptr) return ENOENT;
    const std::string prefix = path_ == "/" ? "/" : path_ + "/";
    for (auto it = state_->entries.lower_bound(prefix);
         it != state_->entries.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
      const std::string rest = it->first.substr(prefix.size());
      if (!rest.empty() && rest.find('/') == std::string::npos) names->push_back(rest);
    }
    return 0;
  }

  int Sync() override { return 0; }

 private:
  std::shared_ptr<State> state_;
  const std::string path_;
};

}  // namespace

MemoryEnv::MemoryEnv() : state_(std::make_shared<State>()) {}
MemoryEnv::~MemoryEnv() = default;

int MemoryEnv::Stat(const std::string& path, bool, FileInfo* info) {
  return state_->Stat(Normalize(path), info);
}

int MemoryEnv::OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file, FileInfo* info) {
  std::lock_guard<std::mutex> lock(state_->mu);
  std::shared_ptr<Node> node = state_->Find(Normalize(path));
  if (node == nullptr) return state_->Missing(Normalize(path));
  if (node->kind == FileInfo::Kind::kDirectory) return EISDIR;
  *info = State::InfoOf(*node);
  *file = std::make_unique<MemoryReadableFile>(state_, node);
  return 0;
}

int MemoryEnv::OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) {
  const std::string normalized = Normalize(path);
  std::lock_guard<std::mutex> lock(state_->mu);
  std::shared_ptr<Node> node = state_->Find(normalized);
  if (node == nullptr) return state_->Missing(normalized);
  if (node->kind != FileInfo::Kind::kDirectory) return ENOTDIR;
  *dir = std::make_unique<MemoryDirectory>(state_, normalized);
  return 0;
}

int MemoryEnv::CreateDirectory(const std::string& path) {
  const std::string normalized = Normalize(path);
  std::lock_guard<std::mutex> lock(state_->mu);
  if (state_->Find(normalized) != nullptr) return EEXIST;
  if (const int err = state_->CheckParent(normalized); err != 0) return err;
  auto node = std::make_shared<Node>();
  node->kind = FileInfo::Kind::kDirectory;
  node->inode = state_->nextInode++;
  node->permissions = 0755;
  node->links = 1;
  node->modified = std::time(nullptr);
  state_->entries[normalized] = node;
  return 0;
}

}  // namespace fs
