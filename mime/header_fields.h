// Interpretation of single header values that need no MIME parser: subject prefixes and the
// several ways mail programs state importance, priority and sensitivity.
#pragma once

#include <optional>
#include <string_view>

#include "mime/parsed_message.h"

namespace mime {

// Length in bytes of the reply/forward prefix at the start of a decoded subject: one to three
// letters, a colon and the blanks after it ("Re: ", "Fwd: ", "AW: ", "SV:"). 0 when there is none;
// digits or blanks before the colon ("10:30 call", "Re re: x") mean no prefix.
size_t SubjectPrefixLength(std::string_view subject);

// Each returns nullopt when the value says nothing it recognises, so the caller can consult the
// next header in its order of preference.
std::optional<Importance> ImportanceFromImportanceHeader(std::string_view value);  // high/normal/low
std::optional<Importance> ImportanceFromXPriority(std::string_view value);         // "1 (Highest)".."5"
std::optional<Importance> ImportanceFromPriority(std::string_view value);          // urgent/normal/non-urgent
std::optional<Priority> PriorityFromPriority(std::string_view value);
Sensitivity SensitivityFromHeader(std::string_view value);  // personal/private/company-confidential

}  // namespace mime
