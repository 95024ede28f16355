// What the two Windows files of fs/ (the search backend and the file layer) share: UTF-8 and
// UTF-16 conversions, the long path form handed to the wide calls, and the errno value of a
// system error code.
#pragma once

#include <windows.h>

#include <string>

namespace fs::win32 {

// UTF-8 to UTF-16; false when `text` is not valid UTF-8, which names no Windows file.
bool ToWide(const std::string& text, std::wstring& wide);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(const wchar_t* wide, std::size_t size);
// The wide form of `path` that the system calls receive; false when it cannot name a file.
bool SystemPath(const std::string& path, std::wstring& wide);
// The errno value that means what `error` (a GetLastError code) means; EIO for the rest.
int ErrnoOf(DWORD error);

}  // namespace fs::win32
