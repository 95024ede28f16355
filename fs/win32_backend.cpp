// The Windows backend of the attribute query and the directory search.
//
// Paths are UTF-8 on our side and UTF-16 on the system's: every call goes through the wide
// ("W") functions, so no name depends on the ANSI code page. A fully qualified path is handed over
// in its long form ("\\?\C:\..."), which lifts the 260-character limit and keeps names exactly as
// written (no trimming of trailing dots and spaces), as the POSIX backend passes its bytes as they
// are. Search patterns are matched here with MatchesPattern rather than by the system, whose
// matcher also tries the short 8.3 names ("*.eml" would find "a.emlx" through "A~1.EML").
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <string.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cwchar>
#include <filesystem>
#include <string>

#include "fs/file_search.h"
#include "fs/path_forms.h"
#include "fs/win32_text.h"

namespace fs {
namespace win32 {

// UTF-8 to UTF-16; false when `text` is not valid UTF-8, which names no Windows file.
bool ToWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                             wide.data(), n) == n;
}

// UTF-16 to UTF-8. A name holding a lone surrogate (NTFS allows it) comes back with U+FFFD in its
// place: the entry is still listed, and opening it by that name fails and is reported, rather than
// the file being passed over unseen.
std::string ToUtf8(const wchar_t* wide, std::size_t size) {
  if (size == 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(size), text.data(), n, nullptr, nullptr);
  return text;
}

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// "C:\..." or "\\server\share\...": the paths the long form can carry.
bool IsFullyQualified(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      IsSlash(path[2])) {
    return true;
  }
  return path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1]);
}

// The wide form of `path` that the system calls receive; false when it cannot name a file.
bool SystemPath(const std::string& path, std::wstring& wide) {
  if (path.rfind("\\\\?\\", 0) == 0) return ToWide(path, wide);  // already in long form
  std::string native = path;
  // The long form takes backslashes only; Windows reads a slash as one everywhere else.
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  if (!ToWide(native, wide)) return false;
  // The long form takes "." and ".." as names; the system resolves them first elsewhere.
  const bool dotted = (native + '\\').find("\\.\\") != std::string::npos ||
                      (native + '\\').find("\\..\\") != std::string::npos;
  if (IsFullyQualified(native) && !dotted) return ToWide(LongPathForm(native), wide);
  if (wide.size() < MAX_PATH - 12 && !dotted) return true;  // short relative paths resolve as they are
  // A long relative path, or one through "." or "..": made absolute and resolved first, since the
  // long form has no working folder and resolves nothing.
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return false;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return false;
  full.resize(written);
  return ToWide(LongPathForm(ToUtf8(full.data(), full.size())), wide);
}

// The collector shows failures with strerror, so the search reports the errno that means the same.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return EOPNOTSUPP;
    default:
      return EIO;
  }
}

}  // namespace win32

namespace {

using win32::ErrnoOf;
using win32::IsSlash;
using win32::SystemPath;
using win32::ToUtf8;
using win32::ToWide;

struct Search {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string pattern;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // `data` holds an entry not yet delivered
};

// Moves the search to its next matching entry; false when none is left, with the reason (0 at the
// end of the folder) in `error`.
bool Advance(Search& search, FindEntry& entry, int& error) {
  error = 0;
  for (;;) {
    if (!search.pending && !FindNextFileW(search.handle, &search.data)) {
      const DWORD last = GetLastError();
      if (last != ERROR_NO_MORE_FILES) error = ErrnoOf(last);
      return false;
    }
    search.pending = false;
    std::string name = ToUtf8(search.data.cFileName, wcslen(search.data.cFileName));
    if (!MatchesPattern(search.pattern, name)) continue;
    entry.Name = std::move(name);
    entry.Attributes = search.data.dwFileAttributes;
    entry.Found = true;
    return true;
  }
}

}  // namespace

ApiCaps& TheApiCaps() {
  static ApiCaps caps;
  return caps;
}

void InitApiCaps() {
  ApiCaps& caps = TheApiCaps();
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  caps.HasGetVersionExW = kernel != nullptr && GetProcAddress(kernel, "GetVersionExW") != nullptr;
  caps.HasGetVersionExA = kernel != nullptr && GetProcAddress(kernel, "GetVersionExA") != nullptr;
  // Every Windows this program runs on is NT-based: the wide path calls are always there.
  caps.IsNT = true;
  caps.Initialized = true;
}

std::uint32_t GetAttributes(const std::string& path) {
  if (!TheApiCaps().Initialized) InitApiCaps();
  std::wstring wide;
  if (path.empty() || !SystemPath(path, wide)) return kInvalidAttributes;
  // INVALID_FILE_ATTRIBUTES has the same value as kInvalidAttributes, so it passes through.
  return GetFileAttributesW(wide.c_str());
}

bool GetFileId(const std::string& path, FileId& id) {
  std::wstring wide;
  if (path.empty() || !SystemPath(path, wide)) return false;
  // Opened for no access at all, only to ask what it is; backup semantics let a folder be opened,
  // and a junction or link is followed, so two ways into one folder give one id.
  const HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return false;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

SearchHandle FindFirst(const std::string& spec, FindEntry& entry) {
  entry.Found = false;
  entry.Handle = kInvalidHandle;
  entry.Error = 0;
  if (spec.size() >= 6 && _strnicmp(spec.c_str(), "ftp://", 6) == 0) return kInvalidHandle;
  if (!TheApiCaps().Initialized) InitApiCaps();

  const std::size_t slash = spec.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string(".\\") : spec.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? spec : spec.substr(slash + 1);
  if (pattern.empty()) return kInvalidHandle;

  std::wstring wide;
  if (!SystemPath(folder + "*", wide)) {
    entry.Error = ENOENT;
    return kInvalidHandle;
  }
  auto* search = new Search;
  search->pattern = pattern;
  // The basic information level skips the short names, which nothing here uses.
  search->handle = FindFirstFileExW(wide.c_str(), FindExInfoBasic, &search->data, FindExSearchNameMatch,
                                    nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search->handle == INVALID_HANDLE_VALUE) {
    const DWORD last = GetLastError();
    // An empty root folder lists nothing, not even "." and "..": that is no failure.
    entry.Error = last == ERROR_FILE_NOT_FOUND || last == ERROR_NO_MORE_FILES ? 0 : ErrnoOf(last);
    delete search;
    return kInvalidHandle;
  }
  search->pending = true;
  int error = 0;
  if (!Advance(*search, entry, error)) {
    entry.Error = error;
    FindClose(search->handle);
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
  int error = 0;
  if (Advance(*reinterpret_cast<Search*>(entry.Handle), entry, error)) return true;
  FindEnd(entry);
  return false;
}

void FindEnd(FindEntry& entry) {
  if (entry.Handle != kInvalidHandle && entry.Handle != 0) {
    auto* search = reinterpret_cast<Search*>(entry.Handle);
    FindClose(search->handle);
    delete search;
  }
  entry.Found = false;
  entry.Handle = kInvalidHandle;
}

std::string AbsoluteFolder(const std::string& path) {
  // std::filesystem reads a narrow string in the ANSI code page on Windows: go through char8_t.
  const std::u8string utf8(path.begin(), path.end());
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(utf8), error);
  if (error) return std::string();
  const std::filesystem::path normal = absolute.lexically_normal();
  const std::size_t rootSize = normal.root_path().native().size();
  const std::u8string text = normal.u8string();
  std::string result(text.begin(), text.end());
  while (result.size() > rootSize && IsSlash(result.back())) result.pop_back();
  return result;
}

}  // namespace fs
