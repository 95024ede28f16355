// libFuzzer target for the whole import path: bytes of a mail file are parsed, mapped onto message
// properties and written as a message of a store in memory. Any crash, hang, leak or sanitizer
// report is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mime/message_file.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/memory_sink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mime::MessageContent parsed = mime::ParseMessage(std::string_view(reinterpret_cast<const char*>(data), size));
  pst::ndb::MemorySink sink;
  auto store = pst::messaging::StoreWriter::Create(sink);
  if (!store.ok()) __builtin_trap();
  pst::import::ImportOptions options;
  options.nameMap = &(*store)->nameMap();
  pst::messaging::MessageContent content = pst::import::WithEmbeddedMessages(pst::import::BuildMessage(parsed, options));
  // A message the writer refuses is fine (it says why); what matters is that nothing breaks.
  (void)(*store)->AddMessage((*store)->ipmSubtree(), content);
  (void)(*store)->Close();
  return 0;
}
