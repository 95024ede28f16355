// A fault the checker (or the B-tree walk under it) found in a store.
#pragma once

#include <string>

namespace pst::read {

struct Finding {
  std::string where;  // "header", "NBT page @0x4800", "folder 0x8022 'Inbox'", ...
  std::string what;   // one short sentence
};

}  // namespace pst::read
