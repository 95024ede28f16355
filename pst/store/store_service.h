// The store service on our own PST writer: what the conversion engine calls to create a data file,
// its folders and its messages.
#pragma once

#include <memory>

#include "engine/store_service.h"
#include "fs/env.h"

namespace pst::store {

// A store service whose sessions write Unicode .pst files. Each session writes one file, to a
// temporary file beside the target that replaces the target when the session logs off. `env`
// (tests) stands in for the file system the sessions' writers write to; it must outlive the service.
std::unique_ptr<engine::StoreService> MakeStoreService(fs::Env* env = nullptr);

}  // namespace pst::store
