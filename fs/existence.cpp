// The existence tests and the name matching, built on the backend's queries and searches.
#include <cctype>

#include "fs/file_search.h"
#include "fs/path_forms.h"

namespace fs {
namespace {

bool GlobMatch(const char* p, const char* n) {
  // Iterative matcher: on a mismatch, let the last `*` swallow one more character.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*n != '\0') {
    if (*p == '*') {
      star = p++;
      resume = n;
    } else if (*p == '?' || (*p != '\0' && std::tolower(static_cast<unsigned char>(*p)) ==
                                               std::tolower(static_cast<unsigned char>(*n)))) {
      ++p;
      ++n;
    } else if (star != nullptr) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

}  // namespace

bool MatchesPattern(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (GlobMatch(pattern.c_str(), name.c_str())) return true;
  // As on Windows, "name.*" also finds "name" itself.
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return GlobMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  }
  return false;
}

bool FolderExists(const std::string& path) {
  const std::string s = WithBackslash(path);
  // The untrimmed path first: a folder given with a trailing space is found by the search below.
  const std::uint32_t attrs = GetAttributes(path);
  if (attrs != kInvalidAttributes && (attrs & kAttrDirectory) != 0) return true;

  FindEntry entry;
  if (FindFirst(s + "*.*", entry) != kInvalidHandle) {
    FindEnd(entry);
    return true;
  }
  return FileExists(s + "nul");
}

bool FileExists(const std::string& path) {
  const std::uint32_t attrs = GetAttributes(path);
  if (attrs != kInvalidAttributes && (attrs & kAttrDirectory) == 0) return true;

  FindEntry entry;
  if (FindFirst(path, entry) == kInvalidHandle) return false;
  const bool isFile = (entry.Attributes & kAttrDirectory) == 0;
  FindEnd(entry);
  return isFile;
}

}  // namespace fs
