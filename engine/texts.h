// The texts the engine shows: time stamps, percentages, and the boxes at the end of a folder or run.
#pragma once

#include <ctime>
#include <string>

#include "engine/run_report.h"

namespace engine {

// "d.m.YY H.m.ss": 7 December 2026, 01:34:05 gives "7.12.26 1.34.05".
std::string FormatFolderStamp(const std::tm& t);

// Rounded to the nearest whole number, ties to the even one (12.5 gives 12, 37.5 gives 38).
long RoundHalfEven(double value);

// The address of a help document; only the path is fixed, the host is ours to choose.
std::string HelpAddress(const std::string& path);

inline constexpr const char* kCrLf = "\r\n";
inline constexpr const char* kSaveFilter = "Outlook Data File(s) (*.pst)|*.pst";

// The path of the store guide shipped with the help pages.
inline constexpr const char* kStoreGuidePath = "/help/downgrade-office-2010-to-32-bit.pdf";

// The "Outlook Error" box, shown when the data file `target` could not be created or opened: what
// went wrong (`cause`, as the system said it) and what the user can do about it. No Outlook is
// involved in writing the file, so the box gives no advice about installing one.
std::string OutlookErrorText(const std::string& target, const std::string& cause);

// What the user can do about a data file that could not be written because of `cause`.
std::string RemedyFor(const std::string& cause);

std::string ConfirmSkipText();
std::string ConfirmStopText();

// The "Completed" box. A clean run gets the fixed two lines of its mode, followed by the name of
// every data file written under another name than planned; otherwise the text says what happened:
// how many messages were converted, which files failed, which data files could not be written,
// which folders held no message file, that the user stopped or skipped, and where the report of
// the files not converted is.
std::string CompletionText(const RunReport& report);

// "No .eml or .emlx files were found in FOLDER."
std::string NoMailText(const std::string& folder);

}  // namespace engine
