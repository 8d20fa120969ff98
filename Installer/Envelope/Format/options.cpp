#include "options.h"

namespace format {

void OptionCollector::Add(const Group& group) {
  if (done_) return;
  switch (group.kind) {
    case GroupKind::kTail: break;
    case GroupKind::kOption:
      if (group.key == kExitCodesOption) options_.exit_codes = true;
      break;
    case GroupKind::kValue:
    case GroupKind::kFile:
    case GroupKind::kCompressedFile:
    case GroupKind::kArchive:
    case GroupKind::kStub:
    case GroupKind::kOther: done_ = true; break;
  }
}

}  // namespace format
