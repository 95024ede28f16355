// The names an attachment is stored under: the long name people see, the 8.3 short form older
// readers and PR_ATTACH_FILENAME use, and the extension. Names arrive from the mail as the sender
// wrote them, so they are cleaned here before any reader can use them as a file name.
#pragma once

#include <string>
#include <string_view>

namespace pst::import {

// The sender's file name made safe to save: whatever precedes the last '/' or '\' is dropped
// ("../../etc/passwd" -> "passwd"), control characters are removed, surrounding spaces and dots
// trimmed. When nothing is left, "ATT" + five-digit `number` + an extension taken from
// `mimeType` ("ATT00001.png"), the way Outlook names unnamed attachments.
std::string LongFileName(std::string_view fileName, std::string_view mimeType, int number);

// A file name made of a forwarded message's subject: each character that file names on common
// systems cannot hold (/ \ : * ? " < > | and control characters) becomes '_', so that nothing of
// the subject is cut away ("Q3 2024/25: final?" -> "Q3 2024_25_ final_").
std::string SubjectFileName(std::string_view subject);

// The 8.3 form of `longName`: kept as it is when it already fits (ASCII, base of 1-8 and
// extension of 0-3 characters that DOS allows), otherwise upper case, unfit characters dropped,
// the base cut to six characters + "~1" and the extension to three.
std::string ShortFileName(std::string_view longName);

// ".pdf" for "report.PDF"; empty when the name has no extension.
std::string FileExtension(std::string_view longName);

}  // namespace pst::import
