// The hasty-exit clean-up on Windows, in the way a program uses it: a copy of this test writes a
// store and ends at once with ExitProcess (no destructor runs), with and without the clean-up.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fs/temp_tree_test.h"
#include "pst/ndb/file_writer.h"
#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

constexpr char kTargetVariable[] = "QUILL_HASTY_EXIT_TARGET";
constexpr char kCleanVariable[] = "QUILL_HASTY_EXIT_CLEAN";

// The copy's side: the target's temporary file holds data when the process ends.
[[noreturn]] void WriteThenEndAtOnce(const std::string& target, bool clean) {
  FileWriterOptions options;
  options.sync = false;
  auto w = FileWriter::Create(target, options);
  if (!w.ok() || !w.value()->WriteDataBlock(std::vector<std::uint8_t>(5000, 0x5A)).ok()) ExitProcess(1);
  if (clean) RemoveLiveTemporaryFiles();
  ExitProcess(3);
}

// Runs this test in a copy of the program that writes `target`; its exit code.
DWORD RunCopy(const std::string& target, bool clean) {
  SetEnvironmentVariableA(kTargetVariable, target.c_str());
  SetEnvironmentVariableA(kCleanVariable, clean ? "1" : "0");
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=LiveTemporaryFiles.*";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD code = 99;
  if (CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableA(kTargetVariable, nullptr);
  return code;
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

TEST(LiveTemporaryFiles, AProgramEndingAtOnceLeavesNoTemporaryFileAndTheTargetAsItWas) {
  if (const char* target = std::getenv(kTargetVariable)) {
    WriteThenEndAtOnce(target, std::string(std::getenv(kCleanVariable)) == "1");
  }
  fs::testing::TempTree tree;
  const std::string target = tree.File("out.pst", "old contents");
  // Without the clean-up the killed run's file stays (until the next writer in the folder).
  ASSERT_EQ(RunCopy(target, false), 3u);
  EXPECT_EQ(Names(tree.root()).size(), 2u);
  std::filesystem::remove(tree.Folder("") + "/" + *Names(tree.root()).begin());

  ASSERT_EQ(RunCopy(target, true), 3u);
  EXPECT_EQ(Names(tree.root()), std::set<std::string>{"out.pst"});
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old contents");
}

}  // namespace
}  // namespace pst::ndb
