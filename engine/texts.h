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

// The path of the guide the "Outlook Error" box names.
inline constexpr const char* kStoreGuidePath = "/help/downgrade-office-2010-to-32-bit.pdf";

// The "Outlook Error" box: its five fixed lines (the last one the guide's address), then a blank
// line and what really went wrong.
std::string OutlookErrorText(const std::string& guideAddress, const std::string& cause);

std::string ConfirmSkipText();
std::string ConfirmStopText();

// The "Completed" box. A clean run gets the fixed two lines of its mode; otherwise the text says
// what happened: how many messages were converted, which files failed, which data files could
// not be written, that the user stopped or skipped.
std::string CompletionText(const RunReport& report);

}  // namespace engine
