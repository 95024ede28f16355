#include "fs/path_forms.h"

namespace fs {

std::string LongPathForm(const std::string& path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return "\\\\?\\UNC\\" + path.substr(2);
  return "\\\\?\\" + path;
}

std::string WithBackslash(const std::string& path, char separator) {
  const std::size_t first = path.find_first_not_of(' ');
  if (first == std::string::npos) return std::string(1, separator);
  const std::size_t last = path.find_last_not_of(' ');
  std::string out = path.substr(first, last - first + 1);
  if (out.back() != separator) out.push_back(separator);
  return out;
}

std::string CutAtNul(std::string& s) {
  const std::size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

}  // namespace fs
