// The MimeEntity/MimeMessage view of a message GMime parsed. Internal to mime/.
#pragma once

#include <gmime/gmime.h>

#include <memory>

#include "mime/mime_entity.h"

namespace mime {

// A view of `message` (borrowed; it must outlive the view) and of every entity below it.
std::unique_ptr<MimeMessage> ViewOfGMimeMessage(GMimeMessage* message);

}  // namespace mime
