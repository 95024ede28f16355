// The compressed form in which Outlook stores and sends an RTF body. Internal to mime/.
#pragma once

#include <string>
#include <string_view>

#include "common/status.h"

namespace mime {

// Unpacks `packed` (a 16-byte header, then LZ77-style runs against a 4096-byte dictionary that
// starts with a fixed RTF prologue, or the raw text when the header says it is stored
// uncompressed). Every length and the CRC are checked; the output never grows past the size the
// header declares, nor past what the input can expand to.
quill::Result<std::string> DecompressRtf(std::string_view packed);

}  // namespace mime
