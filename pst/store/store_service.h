// The store service on our own PST writer: what the conversion engine calls to create a data file,
// its folders and its messages.
#pragma once

#include <memory>

#include "engine/store_service.h"

namespace pst::store {

// A store service whose sessions write Unicode .pst files. Each session writes one file, to a
// temporary file beside the target that replaces the target when the session logs off.
std::unique_ptr<engine::StoreService> MakeStoreService();

}  // namespace pst::store
