#include "engine/report_file.h"

#include <cerrno>
#include <cstring>

namespace engine {
namespace {

void AppendField(std::string& line, const std::string& field) {
  for (const char c : field) {
    switch (c) {
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\\':
        line += "\\\\";
        break;
      default:
        line += c;
    }
  }
}

}  // namespace

const char* OutcomeName(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::kConverted:
      return "converted";
    case FileOutcome::kFailed:
      return "failed";
    case FileOutcome::kEmpty:
      return "empty";
    case FileOutcome::kSkipped:
      return "skipped";
    case FileOutcome::kNotSaved:
      return "not saved";
  }
  return "failed";
}

std::string ReportLine(const FileRecord& record) {
  std::string line;
  AppendField(line, record.path);
  line += '\t';
  line += OutcomeName(record.outcome);
  line += '\t';
  AppendField(line, record.storeFolder);
  line += '\t';
  AppendField(line, record.cause);
  return line;
}

TsvReportFile::~TsvReportFile() { (void)Close(); }  // a report closed here has nobody to tell of a failure

quill::Status TsvReportFile::Open(const std::string& path) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) return quill::Status::IOError(std::string(std::strerror(errno)) + ": " + path);
  failed_ = std::fprintf(file_, "%s\n", kReportHeading) < 0;
  return quill::Status::Ok();
}

void TsvReportFile::Add(const FileRecord& record) {
  if (file_ == nullptr) return;
  const std::string line = ReportLine(record) + "\n";
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) failed_ = true;
}

quill::Status TsvReportFile::Close() {
  if (file_ == nullptr) return quill::Status::Ok();
  if (std::fflush(file_) != 0) failed_ = true;
  const int error = errno;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  if (failed_)
    return quill::Status::IOError("the report could not be written: " + std::string(std::strerror(error)) +
                                  ": " + path_);
  return quill::Status::Ok();
}

}  // namespace engine
