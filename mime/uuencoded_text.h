// Files pasted into a plain-text body as uuencoded blocks, as mailers did before MIME. Internal
// to mime/.
#pragma once

#include <string>
#include <vector>

#include "mime/parsed_message.h"

namespace mime {

// Takes every well-formed uuencoded block out of `text` and appends it to `attachments`, named as
// its "begin" line names it. A block is a line "begin MODE NAME" (MODE three or four octal
// digits), lines of uuencoded data, optionally a line of length zero, and a line "end"; exactly
// those lines leave the text, with their line breaks. Anything that is not such a block in every
// line stays as text. Returns how many blocks were taken.
int ExtractUuencodedBlocks(std::string& text, std::vector<Attachment>& attachments);

}  // namespace mime
