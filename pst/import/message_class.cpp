#include "pst/import/message_class.h"

namespace pst::import {

const char* MessageClassFor(const mime::ParsedMessage& content) {
  switch (content.smime) {
    case mime::SmimeForm::kClearSigned:
      return "IPM.Note.SMIME.MultipartSigned";
    case mime::SmimeForm::kOpaque:
      return "IPM.Note.SMIME";
    case mime::SmimeForm::kNone:
      break;
  }
  return "IPM.Note";
}

}  // namespace pst::import
