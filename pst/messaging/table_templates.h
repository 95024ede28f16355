// Column sets of the tables a store holds. New folder and message tables take the columns of the
// matching template node, so a template and the tables made from it share one list.
#pragma once

#include <span>

#include "pst/ltp/property_value.h"

namespace pst::messaging {

std::span<const ltp::PropTag> HierarchyColumns();
std::span<const ltp::PropTag> ContentsColumns();
std::span<const ltp::PropTag> AssocContentsColumns();
std::span<const ltp::PropTag> SearchContentsColumns();
std::span<const ltp::PropTag> RecipientColumns();
std::span<const ltp::PropTag> AttachmentColumns();
std::span<const ltp::PropTag> ReceiveFolderColumns();

}  // namespace pst::messaging
