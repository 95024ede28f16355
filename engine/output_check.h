// Whether data files can be written into a folder, asked before a run does any work, so that a
// missing, read-only or full folder is named at once instead of after the files were collected.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/status.h"
#include "fs/env.h"
#include "fs/keyed_list.h"

namespace engine {

// OK when `folder` exists, is a folder, takes a new file, and has at least `needBytes` free for
// the user. Otherwise the status's message is the text to show: what is wrong and what to do.
// Creating the probe file is the only way to know about read-only mounts and access lists.
quill::Status CheckOutputFolder(const std::string& folder, std::uint64_t needBytes,
                                fs::Env& env = fs::SystemEnv());

// The bytes of the regular files below `folder`, links not followed: roughly what the data files
// made from it will need. `yield` runs now and then during a long walk. Unreadable parts count 0.
std::uint64_t TreeBytes(const std::string& folder, const std::function<void()>& yield = {});

// The bytes of the files named in `files`.
std::uint64_t ListedBytes(const fs::KeyedList& files, fs::Env& env = fs::SystemEnv());

// "12 KB", "3.4 MB", "1.2 GB": sizes as the boxes name them.
std::string SizeText(std::uint64_t bytes);

}  // namespace engine
