// The store service on our own PST writer: what the conversion engine calls to create a data file,
// its folders and its messages.
#pragma once

#include <memory>

#include "engine/store_service.h"
#include "pst/ndb/file_ops.h"

namespace pst::store {

// A store service whose sessions write Unicode .pst files. Each session writes one file, to a
// temporary file beside the target that replaces the target when the session logs off. `ops`
// (tests) stands in for the file calls the sessions' writers make; it must outlive the service.
std::unique_ptr<engine::StoreService> MakeStoreService(ndb::FileOps* ops = nullptr);

}  // namespace pst::store
