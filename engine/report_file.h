// The report of a run as a tab-separated file: a heading line, then one line per source file with
// its status, the store folder it went to and the cause. Written as the run goes, so that a run of
// a million files needs no list of them in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/status.h"
#include "engine/run_report.h"
#include "fs/env.h"

namespace engine {

// One line of the report, without its line end. Tabs, line ends and backslashes inside a field are
// written as \t, \n, \r and \\, so that every line stays one record of four fields.
std::string ReportLine(const FileRecord& record);
inline constexpr const char* kReportHeading = "file\tstatus\tfolder\tcause";

class TsvReportFile : public FileReport {
 public:
  // `env` must outlive the report.
  explicit TsvReportFile(fs::Env& env = fs::SystemEnv()) : env_(env) {}
  ~TsvReportFile() override;
  TsvReportFile(const TsvReportFile&) = delete;
  TsvReportFile& operator=(const TsvReportFile&) = delete;

  // Creates (or replaces) the file at `path` and writes the heading.
  quill::Status Open(const std::string& path);
  void Add(const FileRecord& record) override;
  // Flushes and closes; reports a write that failed at any point, with the first failure's cause.
  quill::Status Close();

 private:
  void Append(const std::string& text);
  void Flush();

  fs::Env& env_;
  std::unique_ptr<fs::WritableFile> file_;
  std::string path_;
  // Lines not yet written: a line per system call would cost a run of a million files dearly.
  std::string pending_;
  std::uint64_t offset_ = 0;
  int error_ = 0;  // the first failure; nothing more is written after it
};

}  // namespace engine
