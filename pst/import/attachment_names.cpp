#include "pst/import/attachment_names.h"

#include <cstdio>

namespace pst::import {
namespace {

struct TypeExtension {
  std::string_view mimeType;
  std::string_view extension;
};

constexpr TypeExtension kExtensions[] = {
    {"text/plain", ".txt"},
    {"text/html", ".htm"},
    {"text/calendar", ".ics"},
    {"text/csv", ".csv"},
    {"text/xml", ".xml"},
    {"image/png", ".png"},
    {"image/jpeg", ".jpg"},
    {"image/gif", ".gif"},
    {"image/bmp", ".bmp"},
    {"image/tiff", ".tif"},
    {"image/svg+xml", ".svg"},
    {"application/pdf", ".pdf"},
    {"application/zip", ".zip"},
    {"application/msword", ".doc"},
    {"message/rfc822", ".eml"},
    {"text/rfc822-headers", ".txt"},
    {"message/delivery-status", ".txt"},
    {"application/pkcs7-signature", ".p7s"},
    {"application/x-pkcs7-signature", ".p7s"},
    {"application/pkcs7-mime", ".p7m"},
    {"application/x-pkcs7-mime", ".p7m"},
};

bool IsDosChar(char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  return std::string_view("!#$%&'()-@^_`{}~").find(c) != std::string_view::npos;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string DosPart(std::string_view part, std::size_t max) {
  std::string out;
  for (char c : part) {
    if (out.size() == max) break;
    if (IsDosChar(Upper(c))) out.push_back(Upper(c));
  }
  return out;
}

}  // namespace

std::string LongFileName(std::string_view fileName, std::string_view mimeType, int number) {
  const std::size_t slash = fileName.find_last_of("/\\");
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  std::string name;
  for (char c : fileName) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    name.push_back(c);
  }
  const std::size_t first = name.find_first_not_of(" .");
  const std::size_t last = name.find_last_not_of(" .");
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  if (!name.empty()) return name;

  std::string_view extension = ".dat";
  for (const TypeExtension& t : kExtensions) {
    if (t.mimeType == mimeType) extension = t.extension;
  }
  char base[16];
  std::snprintf(base, sizeof(base), "ATT%05d", number % 100000);
  return std::string(base) + std::string(extension);
}

std::string SubjectFileName(std::string_view subject) {
  std::string name(subject);
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) c = '_';
  }
  return name;
}

std::string FileExtension(std::string_view longName) {
  const std::size_t dot = longName.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == longName.size()) return {};
  return std::string(longName.substr(dot));
}

std::string ShortFileName(std::string_view longName) {
  const std::size_t dot = longName.find_last_of('.');
  const bool hasExtension = dot != std::string_view::npos && dot != 0;
  const std::string_view base = hasExtension ? longName.substr(0, dot) : longName;
  const std::string_view extension = hasExtension ? longName.substr(dot + 1) : std::string_view();

  auto fits = [](std::string_view part, std::size_t min, std::size_t max) {
    if (part.size() < min || part.size() > max) return false;
    for (char c : part) {
      if (!IsDosChar(Upper(c))) return false;
    }
    return true;
  };
  if (fits(base, 1, 8) && fits(extension, 0, 3)) return std::string(longName);

  std::string shortBase = DosPart(base, 6);
  if (shortBase.empty()) shortBase = "ATT";
  std::string shortName = shortBase + "~1";
  const std::string shortExtension = DosPart(extension, 3);
  if (!shortExtension.empty()) shortName += "." + shortExtension;
  return shortName;
}

}  // namespace pst::import
