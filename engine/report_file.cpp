#include "engine/report_file.h"

#include <cerrno>

namespace engine {
namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

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
  (void)Close();  // a report still open is given up for the new one
  path_ = path;
  offset_ = 0;
  error_ = 0;
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::unique_ptr<fs::Directory> dir;
  int err = env_.OpenDirectory(folder, &dir);
  if (err == 0) {
    err = dir->OpenFile(slash == std::string::npos ? path : path.substr(slash + 1),
                        fs::OpenMode::kCreateOrOpen, env_.NewFilePermissions(), &file_);
  }
  if (err == 0) err = file_->Truncate(0);  // an earlier report at the path is replaced
  if (err != 0) {
    file_.reset();
    return quill::Status::IOError(fs::ErrorText(err) + ": " + path);
  }
  Append(std::string(kReportHeading) + "\n");
  return quill::Status::Ok();
}

void TsvReportFile::Add(const FileRecord& record) {
  if (file_ == nullptr) return;
  Append(ReportLine(record) + "\n");
}

void TsvReportFile::Append(const std::string& text) {
  if (error_ != 0) return;
  pending_ += text;
  if (pending_.size() >= kFlushAt) Flush();
}

void TsvReportFile::Flush() {
  std::size_t done = 0;
  while (error_ == 0 && done < pending_.size()) {
    std::size_t written = 0;
    error_ = file_->WriteAt(offset_, pending_.data() + done, pending_.size() - done, &written);
    if (error_ == 0 && written == 0) error_ = EIO;  // no progress and no reason: not to loop forever
    done += written;
    offset_ += written;
  }
  pending_.clear();
}

quill::Status TsvReportFile::Close() {
  if (file_ == nullptr) return quill::Status::Ok();
  Flush();
  const int closeError = file_->Close();
  if (error_ == 0) error_ = closeError;
  file_.reset();
  if (error_ != 0)
    return quill::Status::IOError("the report could not be written: " + fs::ErrorText(error_) + ": " + path_);
  return quill::Status::Ok();
}

}  // namespace engine
