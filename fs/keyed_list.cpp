#include "fs/keyed_list.h"

namespace fs {

quill::Status KeyedList::Add(std::string item, std::string key) {
  if (!keys_.insert(key).second) {
    return quill::Status::AlreadyExists("This key is already associated with an element of this collection: " + key);
  }
  items_.push_back(std::move(item));
  return quill::Status::Ok();
}

void KeyedList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  keys_.clear();
}

}  // namespace fs
