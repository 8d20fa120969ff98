// The names `envelope list` gives the kinds of groups, text and JSON alike:
// the type texts of the kinds that have one, and two names of their own.
#include <gtest/gtest.h>

#include <string_view>

#include "groups.h"

namespace {

using format::GroupKind;

TEST(GroupKindName, IsTheTypeTextOrTheListingsOwnName) {
  EXPECT_EQ(format::GroupKindName(GroupKind::kTail), "tail");
  EXPECT_EQ(format::GroupKindName(GroupKind::kValue), "value");
  EXPECT_EQ(format::GroupKindName(GroupKind::kFile), "file");
  EXPECT_EQ(format::GroupKindName(GroupKind::kCompressedFile), "zfile");
  EXPECT_EQ(format::GroupKindName(GroupKind::kArchive), "archive");
  EXPECT_EQ(format::GroupKindName(GroupKind::kStub), "stub");
  EXPECT_EQ(format::GroupKindName(GroupKind::kOption), "option");
  EXPECT_EQ(format::GroupKindName(GroupKind::kOther), "other");
}

TEST(GroupKindName, NamesEachKnownTypeAsItsTypeText) {
  for (const GroupKind kind : {GroupKind::kValue, GroupKind::kFile, GroupKind::kCompressedFile,
                               GroupKind::kArchive, GroupKind::kStub, GroupKind::kOption}) {
    EXPECT_EQ(format::GroupKindName(kind), format::GroupType(kind));
    EXPECT_EQ(format::KindOfGroupType(format::GroupKindName(kind)), kind);
  }
}

}  // namespace
