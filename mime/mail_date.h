// Reading the date-time of a Date or Received header, old and sloppy forms included.
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

namespace mime {

// The date-time in `text` as GMime reads it once the forms it misreads are put right: comments
// dropped, a zone glued to the time set apart, zone names in any case, and the obsolete
// three-digit year (1900 + year). Owned by the caller; null when no date can be made of it.
GDateTime* ParseMailDate(std::string_view text);

// The text ParseMailDate hands to GMime.
std::string NormalizedMailDate(std::string_view text);

}  // namespace mime
