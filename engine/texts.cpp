#include "engine/texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/host.h"
#include "engine/message_names.h"

#ifndef QUILL_HELP_BASE
#define QUILL_HELP_BASE "https://www.marrowfeld.example"
#endif

namespace engine {

std::string FormatFolderStamp(const std::tm& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%02d %d.%d.%02d", t.tm_mday, t.tm_mon + 1, (t.tm_year + 1900) % 100,
                t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

long RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  long result = static_cast<long>(floor);
  if (diff > 0.5 || (diff == 0.5 && result % 2 != 0)) ++result;
  return result;
}

std::string HelpAddress(const std::string& path) { return std::string(QUILL_HELP_BASE) + path; }

std::string Host::GuideAddress(const std::string& path) { return HelpAddress(path); }

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The folder part of a path, without its final separator ("/" for a file in the root).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The system's words for a failure, without the path the file layer appends to them.
std::string CauseWords(const std::string& cause) {
  std::string words = cause;
  if (const std::size_t at = words.find(": /"); at != std::string::npos) words.erase(at);
  while (!words.empty() && (words.back() == '.' || words.back() == ' ')) words.pop_back();
  return words;
}

}  // namespace

std::string RemedyFor(const std::string& cause) {
  if (Contains(cause, "Permission denied") || Contains(cause, "Read-only file system") ||
      Contains(cause, "Operation not permitted")) {
    return "Choose a folder you can write to.";
  }
  if (Contains(cause, "No such file or directory") || Contains(cause, "Not a directory")) {
    return "Choose a folder that exists.";
  }
  if (Contains(cause, "No space left on device") || Contains(cause, "Disk quota exceeded") ||
      Contains(cause, "File too large")) {
    return "Free some space on that drive, or choose a folder on another one.";
  }
  return "Choose another folder, or check that the drive is working.";
}

std::string OutlookErrorText(const std::string& target, const std::string& cause) {
  std::string text = "The data file could not be created in " + FolderOf(target);
  const std::string words = CauseWords(cause);
  text += words.empty() ? "." : ": " + words + ".";
  text += " " + RemedyFor(cause);
  const std::size_t slash = target.find_last_of('/');
  if (!target.empty()) {
    text += std::string(kCrLf) + kCrLf +
            "Data file: " + (slash == std::string::npos ? target : target.substr(slash + 1));
  }
  return text;
}

std::string ConfirmSkipText() { return "Do you really want to \"Skip\" conversion of this folder ?"; }

std::string ConfirmStopText() {
  return std::string("This action will STOP complete conversion process.") + kCrLf +
         "Do you really want to \"STOP\" on-going conversion ?";
}

namespace {

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string NoMailText(const std::string& folder) {
  return "No .eml or .emlx files were found in " + folder + ".";
}

std::string CompletionText(const RunReport& r) {
  const std::string openLine =
      r.singleMode ? "Open Converted Outlook Data file in Microsoft Outlook to View Converted Messages."
                   : "Open Converted Outlook Data file(s) in Microsoft Outlook to View Individual files.";
  std::string text;
  const auto line = [&text](const std::string& l) {
    if (!text.empty()) text += kCrLf;
    text += l;
  };
  const auto renamedLines = [&] {
    for (const WrittenStore& w : r.written) {
      if (w.renamed)
        line("\"" + w.target + "\" was written, since a file of the planned name already existed.");
    }
  };
  // What was kept in another form than usual; a few tell the story, the report has them all.
  const auto notesLines = [&] {
    constexpr std::size_t kNotesShown = 3;
    for (std::size_t i = 0; i < r.notes.size() && i < kNotesShown; ++i) line(r.notes[i]);
    if (r.notes.size() > kNotesShown)
      line("And " + std::to_string(r.notes.size() - kNotesShown) + " more notes.");
  };
  const auto reportLine = [&] {
    if (!r.reportFile.empty())
      line("A report of every file not converted, and why, is in \"" + r.reportFile + "\".");
  };
  // Nothing to convert at all: saying "converted successfully" would not be true.
  if (r.singleMode && r.foldersConverted == 0 && r.failedStores.empty() && r.failedFiles.empty() &&
      !r.stopped && r.foldersSkipped == 0 && !r.foldersWithoutMail.empty()) {
    return NoMailText(r.foldersWithoutMail.front());
  }
  if (r.Clean() && r.foldersWithoutMail.empty()) {
    line(r.singleMode ? "Messages Converted Successfully." : "All Folders Converted Successfully.");
    line(openLine);
    renamedLines();
    notesLines();
    reportLine();
    return text;
  }
  if (r.stopped) line("Conversion stopped by the user.");
  if (r.foldersSkipped > 0) line(Plural(r.foldersSkipped, "folder was", "folders were") + " skipped.");
  for (const LeftOutFolder& f : r.leftOut) {
    line(f.messagesLeft < 0
             ? "\"" + f.folderName + "\" was not begun."
             : "\"" + f.folderName +
                   "\": " + Plural(f.messagesLeft, "message file was", "message files were") + " left out.");
  }
  line(Plural(r.messagesConverted, "message", "messages") + " converted" +
       (r.singleMode ? "" : " into " + Plural(r.foldersConverted, "data file", "data files")) + ".");
  if (!r.failedFiles.empty()) {
    std::string names;
    const std::size_t shown = std::min<std::size_t>(r.failedFiles.size(), 3);
    for (std::size_t i = 0; i < shown; ++i) names += (i ? ", " : "") + LastPathPart(r.failedFiles[i].path);
    if (r.failedFiles.size() > shown)
      names += " and " + std::to_string(r.failedFiles.size() - shown) + " more";
    line(Plural(static_cast<int>(r.failedFiles.size()), "file", "files") +
         " could not be converted: " + names + ".");
  }
  if (r.messagesEmpty > 0) {
    line(Plural(r.messagesEmpty, "file was", "files were") + " empty (0 bytes) and not converted.");
  }
  for (const UnreadableFolder& f : r.unreadableFolders) {
    line("The folder \"" + f.path + "\" could not be read (" + f.cause + "); its files were not converted.");
  }
  for (const FailedStore& s : r.failedStores) {
    line("The data file for \"" + s.folderName + "\" could not be written: " + s.cause);
    if (s.messagesLost > 0)
      line(Plural(s.messagesLost, "message", "messages") + " of it could not be saved.");
  }
  notesLines();
  for (const std::string& folder : r.foldersWithoutMail) line(NoMailText(folder));
  renamedLines();
  reportLine();
  if (r.foldersConverted > 0) line(openLine);
  return text;
}

}  // namespace engine
