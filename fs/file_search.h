// Attribute queries, directory searches and the two existence tests.
//
// No operation here shows anything or raises a failure: every platform failure becomes a return
// value (kInvalidAttributes, kInvalidHandle, false). The platform calls live in one backend file
// per platform (posix_backend.cpp); the existence tests are built on top of them here.
#pragma once

#include <cstdint>
#include <string>

namespace fs {

// The capability table, filled once per run by InitApiCaps.
struct ApiCaps {
  bool Initialized = false;
  bool HasGetVersionExW = false;
  bool HasGetVersionExA = false;
  // True when the wide (Windows) or byte-exact UTF-8 (POSIX) path calls are used.
  bool IsNT = false;
};

// The program's one capability table.
ApiCaps& TheApiCaps();
void InitApiCaps();

inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
// What GetAttributes answers when the query fails. A caller that only tests kAttrDirectory sees a
// failure as a folder.
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

using SearchHandle = std::intptr_t;
inline constexpr SearchHandle kInvalidHandle = -1;  // all bits set

// The state of one directory search, owned by the caller.
struct FindEntry {
  SearchHandle Handle = kInvalidHandle;
  bool Found = false;
  std::string Name;
  std::uint32_t Attributes = 0;
  // Why FindFirst returned kInvalidHandle: the platform's error number when the folder could not
  // be opened or read (EACCES, EIO, ...), 0 when it was read and nothing matched. A walk needs the
  // difference: an empty folder is fine, an unreadable one hides files from the user.
  int Error = 0;
};

std::uint32_t GetAttributes(const std::string& path);

// `spec` is a folder path followed by a name pattern with `*` and `?` ("*.*" matches every name,
// with or without a dot). Returns the open handle with the first entry in `entry`, or
// kInvalidHandle when nothing was found. A spec starting with "ftp://" (any case) opens nothing.
SearchHandle FindFirst(const std::string& spec, FindEntry& entry);
// True when `entry` holds the next entry; false when none is left or the search failed, in which
// case the search has been ended.
bool FindNext(FindEntry& entry);
// Closes the search if one is open; harmless on an ended search.
void FindEnd(FindEntry& entry);

// What tells one real directory from another (device and inode on POSIX): two paths that lead to
// the same directory through links give equal ids.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};
// False when the path cannot be queried.
bool GetFileId(const std::string& path, FileId& id);

bool FolderExists(const std::string& path);

// One written form of a folder's path: absolute (relative paths are taken from the working
// folder), with "." and ".." elements and repeated separators resolved as text and no trailing
// separator (but for the file-system root). Links are kept as written, so a folder reached through
// a link keeps the name the user chose. Every path a walk finds below the folder starts with this
// text and a separator. Empty when the working folder cannot be read.
std::string AbsoluteFolder(const std::string& path);
// True when `path` (which may hold wildcards) names an entry that is not a folder; with a
// pattern, the first match decides.
bool FileExists(const std::string& path);

// Windows-style name matching: `*` and `?`, letter case ignored, "*.*" and a trailing ".*" also
// matching names without a dot.
bool MatchesPattern(const std::string& pattern, const std::string& name);

}  // namespace fs
