// libFuzzer target for the whole import path: bytes of a mail file are parsed, mapped onto message
// properties and written as a message of a real store file, which is then read back by our own
// reader and checked by the structural checker. Any crash, hang, leak or sanitizer report is a
// finding, and so is a store that does not read back whole or breaks a rule the checker knows.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "mime/message_file.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"
#include "pst/read/checker.h"

namespace {

// One store file per fuzzing process, in memory-backed storage where there is some.
const std::string& TargetPath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/quill-fuzz-" + std::to_string(getpid()) + ".pst";
  }();
  return path;
}

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "finding: %s\n", what.c_str());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mime::ParsedMessage parsed =
      mime::ParseMessage(std::string_view(reinterpret_cast<const char*>(data), size));
  pst::ndb::FileWriterOptions fileOptions;
  fileOptions.sync = false;
  auto file = pst::ndb::FileWriter::Create(TargetPath(), fileOptions);
  if (!file.ok()) Finding("cannot create the store file: " + file.status().message());
  auto store = pst::messaging::StoreWriter::Create(**file);
  if (!store.ok()) Finding("cannot start a store: " + store.status().message());
  pst::import::ImportOptions options;
  options.nameMap = &(*store)->nameMap();
  pst::messaging::MessageContent content = pst::import::BuildMessage(parsed, options).message;
  // A message the writer refuses is fine (it says why); what matters is that nothing breaks and
  // that what was accepted reads back.
  const bool added = (*store)->AddMessage((*store)->ipmSubtree(), content).ok();
  if (quill::Status s = (*store)->Close(); !s.ok()) Finding("the store cannot be completed: " + s.message());
  if (quill::Status s = (*file)->Close(); !s.ok()) Finding("the file cannot be completed: " + s.message());

  auto checked = pst::read::CheckFile(TargetPath());
  if (!checked.ok()) Finding("the store does not open: " + checked.status().message());
  for (const pst::read::Finding& f : checked->findings) Finding(f.where + ": " + f.what);
  if (added && checked->messages == 0) Finding("the message written is not in the store");
  std::remove(TargetPath().c_str());
  return 0;
}
