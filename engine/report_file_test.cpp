#include "engine/report_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "fs/faulty_env.h"
#include "fs/temp_tree_test.h"

namespace engine {
namespace {

// Enough lines that the report is written out during the run, not only when it is closed.
constexpr int kRecords = 3000;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Writes a whole report through `env`; the first failing step's status.
quill::Status WriteReport(fs::Env& env, const std::string& path) {
  TsvReportFile report(env);
  QUILL_RETURN_IF_ERROR(report.Open(path));
  for (int i = 0; i < kRecords; ++i) {
    report.Add({"/src/message " + std::to_string(i) + ".eml", FileOutcome::kFailed, "Inbox", "unreadable"});
  }
  return report.Close();
}

TEST(TsvReportFileTest, ReplacesAnEarlierReportWithHeadingAndEveryLine) {
  fs::testing::TempTree tree;
  const std::string path = tree.File("run.tsv", std::string(200000, '#'));
  ASSERT_TRUE(WriteReport(fs::PosixEnv(), path).ok());
  const std::string text = Contents(path);
  EXPECT_EQ(text.rfind(std::string(kReportHeading) + "\n/src/message 0.eml\tfailed\tInbox\tunreadable\n", 0),
            0u);
  EXPECT_EQ(text.find('#'), std::string::npos);
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, kRecords + 1u);
  const std::string last = "/src/message 2999.eml\tfailed\tInbox\tunreadable\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST(TsvReportFileTest, AFolderThatIsMissingIsNamedOnOpen) {
  fs::testing::TempTree tree;
  TsvReportFile report;
  const quill::Status status = report.Open(tree.Path("none/run.tsv"));
  EXPECT_EQ(status.message(), "No such file or directory: " + tree.Path("none/run.tsv"));
  EXPECT_TRUE(report.Close().ok());  // nothing was opened, nothing to report
}

// Whichever call fails, the report says so, with the system's reason and the path: at the open
// when the file cannot be made, else when it is closed, never an OK over a truncated report.
TEST(TsvReportFileTest, EveryFailingCallIsReportedNotLost) {
  fs::testing::TempTree tree;
  const std::string path = tree.Path("run.tsv");
  fs::FaultyEnv env(fs::PosixEnv());
  env.FailCall(0, 0);
  ASSERT_TRUE(WriteReport(env, path).ok());
  const std::uint64_t calls = env.calls();
  ASSERT_GT(calls, 4u);  // folder, file, truncate, writes, close
  int writesFailed = 0;
  for (const auto fault : {fs::FaultyEnv::Fault::kError, fs::FaultyEnv::Fault::kShortThenError}) {
    for (std::uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE("call " + std::to_string(n));
      env.FailCall(n, ENOSPC, fault);
      const quill::Status status = WriteReport(env, path);
      // A short write that the next write finished, or a call that cannot come up short.
      if (env.faulted().empty() || (fault != fs::FaultyEnv::Fault::kError && env.faulted() != "write"))
        continue;
      SCOPED_TRACE(env.faulted());
      ASSERT_FALSE(status.ok());
      EXPECT_NE(status.message().find("No space left on device: " + path), std::string::npos)
          << status.message();
      if (env.faulted() == "write") {
        ++writesFailed;
        EXPECT_EQ(status.message(), "the report could not be written: No space left on device: " + path);
      }
    }
  }
  EXPECT_GT(writesFailed, 2);  // mid-run writes, not only the last one
}

}  // namespace
}  // namespace engine
