// Which collected files are messages, and the two path-text helpers the import loop and the
// progress window's Open Folder share.
#pragma once

#include <string>

#include "fs/path_forms.h"

namespace engine {

// The text after the last separator of `p`; all of `p` without one; empty when `p` ends in one.
std::string LastPathPart(const std::string& p, char separator = fs::kPathSeparator);

// `p` up to and including its last separator; empty without one; `p` itself when it ends in one.
std::string ParentWithSlash(const std::string& p, char separator = fs::kPathSeparator);

// True when the name of `path` ends in ".eml" or ".emlx", or is "eml~1", in any letter case.
bool IsMessageFileName(const std::string& path);

}  // namespace engine
