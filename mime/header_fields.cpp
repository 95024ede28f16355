#include "mime/header_fields.h"

#include <string>

#include "mime/strings.h"

namespace mime {
namespace {

std::string LowerTrimmed(std::string_view v) { return AsciiLower(TrimWhitespace(v)); }

// Byte length of the UTF-8 letter starting at s[i], or 0 when it is not a letter. Outside ASCII
// every character counts as a letter, which is enough for prefixes such as the Greek "ΑΠ:".
size_t LetterLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return 1;
  if (c < 0xC0) return 0;
  size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  return i + len <= s.size() ? len : 0;
}

}  // namespace

size_t SubjectPrefixLength(std::string_view subject) {
  size_t i = 0;
  int letters = 0;
  while (i < subject.size() && letters < 4) {
    const size_t len = LetterLength(subject, i);
    if (len == 0) break;
    i += len;
    ++letters;
  }
  if (letters == 0 || letters > 3 || i >= subject.size() || subject[i] != ':') return 0;
  ++i;
  while (i < subject.size() && (subject[i] == ' ' || subject[i] == '\t')) ++i;
  return i;
}

std::optional<Importance> ImportanceFromImportanceHeader(std::string_view value) {
  const std::string v = LowerTrimmed(value);
  if (v.starts_with("high")) return Importance::kHigh;
  if (v.starts_with("low")) return Importance::kLow;
  if (v.starts_with("normal") || v.starts_with("medium")) return Importance::kNormal;
  return std::nullopt;
}

std::optional<Importance> ImportanceFromXPriority(std::string_view value) {
  const std::string v = LowerTrimmed(value);
  if (v.empty()) return std::nullopt;
  switch (v[0]) {
    case '1':
    case '2':
      return Importance::kHigh;
    case '3':
      return Importance::kNormal;
    case '4':
    case '5':
      return Importance::kLow;
    default:
      break;
  }
  // Some programs write the word alone ("X-Priority: High"; X-MSMail-Priority always does).
  if (v.starts_with("high") || v.starts_with("urgent")) return Importance::kHigh;
  if (v.starts_with("low")) return Importance::kLow;
  if (v.starts_with("normal") || v.starts_with("medium")) return Importance::kNormal;
  return std::nullopt;
}

std::optional<Priority> PriorityFromPriority(std::string_view value) {
  const std::string v = LowerTrimmed(value);
  if (v.starts_with("urgent")) return Priority::kUrgent;
  if (v.starts_with("non-urgent") || v.starts_with("nonurgent")) return Priority::kNonUrgent;
  if (v.starts_with("normal")) return Priority::kNormal;
  return std::nullopt;
}

std::optional<Importance> ImportanceFromPriority(std::string_view value) {
  const std::optional<Priority> p = PriorityFromPriority(value);
  if (!p) return std::nullopt;
  switch (*p) {
    case Priority::kUrgent:
      return Importance::kHigh;
    case Priority::kNonUrgent:
      return Importance::kLow;
    case Priority::kNormal:
      break;
  }
  return Importance::kNormal;
}

Sensitivity SensitivityFromHeader(std::string_view value) {
  const std::string v = LowerTrimmed(value);
  if (v == "personal") return Sensitivity::kPersonal;
  if (v == "private") return Sensitivity::kPrivate;
  if (v == "company-confidential" || v == "confidential") return Sensitivity::kConfidential;
  return Sensitivity::kNone;
}

}  // namespace mime
