#include "engine/message_names.h"

#include <algorithm>
#include <cctype>

namespace engine {

std::string LastPathPart(const std::string& p, char separator) {
  const std::size_t pos = p.find_last_of(separator);
  return pos == std::string::npos ? p : p.substr(pos + 1);
}

std::string ParentWithSlash(const std::string& p, char separator) {
  const std::size_t pos = p.find_last_of(separator);
  return pos == std::string::npos ? std::string() : p.substr(0, pos + 1);
}

bool IsMessageFileName(const std::string& path) {
  std::string name = LastPathPart(path);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto endsWith = [&name](const std::string& tail) {
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return endsWith(".eml") || endsWith(".emlx") || name == "eml~1";
}

}  // namespace engine
