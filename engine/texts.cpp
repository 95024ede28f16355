#include "engine/texts.h"

#include <cmath>

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

std::string OutlookErrorText(const std::string& guideAddress, const std::string& cause) {
  std::string text = std::string("Outlook Session Creation Error !") + kCrLf +
                     "Check if Outlook is installed and configured." + kCrLf +
                     "If Outlook 2013/2010 (64 Bit) is installed, then please try to re-install it as Outlook "
                     "2013/2010 (32 Bit)." +
                     kCrLf + "Here are steps to downgrade Outlook 2013/2010 to 32 Bit from 64 Bit Edition." + kCrLf +
                     guideAddress;
  // No Outlook is involved here: the real cause is what helps the user.
  if (!cause.empty()) text += std::string(kCrLf) + kCrLf + cause;
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

std::string CompletionText(const RunReport& r) {
  const std::string openLine =
      r.singleMode ? "Open Converted Outlook Data file in Microsoft Outlook to View Converted Messages."
                   : "Open Converted Outlook Data file(s) in Microsoft Outlook to View Individual files.";
  if (r.Clean()) {
    return std::string(r.singleMode ? "Messages Converted Successfully." : "All Folders Converted Successfully.") +
           kCrLf + openLine;
  }
  std::string text;
  const auto line = [&text](const std::string& l) {
    if (!text.empty()) text += kCrLf;
    text += l;
  };
  if (r.stopped) line("Conversion stopped by the user.");
  if (r.foldersSkipped > 0) line(Plural(r.foldersSkipped, "folder was", "folders were") + " skipped.");
  line(Plural(r.messagesConverted, "message", "messages") + " converted" +
       (r.singleMode ? "" : " into " + Plural(r.foldersConverted, "data file", "data files")) + ".");
  if (!r.failedFiles.empty()) {
    std::string names;
    const std::size_t shown = std::min<std::size_t>(r.failedFiles.size(), 3);
    for (std::size_t i = 0; i < shown; ++i) names += (i ? ", " : "") + LastPathPart(r.failedFiles[i].path);
    if (r.failedFiles.size() > shown) names += " and " + std::to_string(r.failedFiles.size() - shown) + " more";
    line(Plural(static_cast<int>(r.failedFiles.size()), "file", "files") + " could not be converted: " + names + ".");
  }
  for (const FailedStore& s : r.failedStores) {
    line("The data file for \"" + s.folderName + "\" could not be written: " + s.cause);
  }
  for (const WrittenStore& w : r.written) {
    if (w.renamed) line("\"" + w.target + "\" was written, since a file of the planned name already existed.");
  }
  if (r.foldersConverted > 0) line(openLine);
  return text;
}

}  // namespace engine
