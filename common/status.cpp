#include "common/status.h"

namespace quill {

std::string Status::ToString() const {
  const char* name = "OK";
  switch (code_) {
    case Code::kOk:
      return name;
    case Code::kNotFound:
      name = "Not found";
      break;
    case Code::kAlreadyExists:
      name = "Already exists";
      break;
    case Code::kCorruption:
      name = "Corruption";
      break;
    case Code::kIOError:
      name = "IO error";
      break;
    case Code::kInvalidArgument:
      name = "Invalid argument";
      break;
    case Code::kNotSupported:
      name = "Not supported";
      break;
  }
  return std::string(name) + ": " + message_;
}

}  // namespace quill
