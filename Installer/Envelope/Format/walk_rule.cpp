#include "walk_rule.h"

#include "launch.h"

namespace format {

namespace {

// Whether the walk reads `role` of a group of `kind`.
bool WalkReads(GroupKind kind, RecordRole role) {
  return kind != GroupKind::kStub || role == RecordRole::kType || role == RecordRole::kKey;
}

}  // namespace

bool WalkRule::Take(const Group& group) {
  if (group.bad_record && WalkReads(group.kind, *group.bad_record)) {
    envelope_valid_ = false;
    return false;
  }
  InsertGroupVariable(variables_, group);
  options_.Add(group);
  if (group.kind == GroupKind::kTail) envelope_valid_ = true;
  return group.kind != GroupKind::kStub;
}

}  // namespace format
