// Reading groups with GroupReader, as written by EnvelopeWriter: the grammar
// both sides share, the walk's and the inspection's way of reading, and what
// a failure tells.
#include "groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backward_reader.h"
#include "envelope_writer.h"
#include "platform_files.h"
#include "record.h"
#include "tail.h"
#include "test_support.h"

using namespace format;

namespace {

const std::string kStubBytes = "#!stub program bytes, longer than 23#";

class GroupReaderTest : public testing::Test {
 protected:
  // An envelope: stub group, a file group, two value groups, an unknown
  // group and the tail (read in the reverse order).
  static std::string Envelope() {
    std::string bytes = kStubBytes;
    writer::AppendStubGroup(bytes, "Reader.exe");
    writer::AppendFileGroup(bytes, "installer", "Setup.exe", "setup bytes");
    writer::AppendValueGroup(bytes, "executable", "%installer%");
    writer::AppendGroup(bytes, "future", "later", {});
    writer::AppendValueGroup(bytes, "parameters", std::string(100, 'p'));
    writer::AppendTail(bytes);
    return bytes;
  }

  // How ReadAll reads: as the reader's walk does (each group's head, its body
  // unless it is the stub's, stopping at the first mismatch), or as the
  // tool's inspection does (every record, contents verified, reading on past
  // mismatches).
  enum class Reading { kWalk, kInspection };

  // Reads every group of `bytes` until the reading stops; returns the status
  // it stopped with, kDigestMismatch for the walk's first mismatch.
  RecordStatus ReadAll(const std::string& bytes, Reading reading, std::vector<Group>& groups,
                       GroupReadFailure* failure = nullptr, size_t kept_text_size = SIZE_MAX) {
    file_ = platform::File();  // Windows cannot replace a file that is open
    test::WriteFile(path_, bytes);
    file_ = platform::File::OpenForReading(path_.string());
    EXPECT_TRUE(FindEnvelopeTail(file_));
    const bool inspect = reading == Reading::kInspection;
    GroupReader reader(file_, kept_text_size);
    for (;;) {
      Group group;
      RecordStatus status = reader.ReadHead(group);
      if (status == RecordStatus::kOk &&
          (inspect || (!group.bad_record && group.kind != GroupKind::kStub))) {
        status = reader.ReadBody(group);
      }
      if (inspect && status == RecordStatus::kOk &&
          (group.kind == GroupKind::kFile || group.kind == GroupKind::kStub)) {
        status = reader.VerifyContents(group);
      }
      if (!inspect && status == RecordStatus::kOk && group.bad_record) {
        status = RecordStatus::kDigestMismatch;
      }
      groups.push_back(group);
      if (status != RecordStatus::kOk || group.kind == GroupKind::kStub) {
        if (failure != nullptr) *failure = reader.failure();
        return status;
      }
    }
  }

  test::ScratchDirectory scratch_;
  std::filesystem::path path_ = scratch_.path() / "installer";
  platform::File file_;
};

TEST_F(GroupReaderTest, TheWalkReadsWhatTheWriterWrote) {
  std::vector<Group> groups;
  ASSERT_EQ(ReadAll(Envelope(), Reading::kWalk, groups), RecordStatus::kOk);
  ASSERT_EQ(groups.size(), 6u);
  EXPECT_EQ(groups[0].kind, GroupKind::kTail);
  EXPECT_EQ(groups[0].key, "");
  EXPECT_EQ(groups[1].kind, GroupKind::kValue);
  EXPECT_EQ(groups[1].value, std::string(100, 'p'));
  EXPECT_EQ(groups[2].kind, GroupKind::kOther);
  EXPECT_EQ(groups[2].type, "future");
  EXPECT_EQ(groups[2].key, "later");
  EXPECT_EQ(groups[3].key, "executable");
  EXPECT_EQ(groups[3].value, "%installer%");
  EXPECT_EQ(groups[4].kind, GroupKind::kFile);
  EXPECT_EQ(groups[4].name, "Setup.exe");
  EXPECT_EQ(groups[4].contents.length, 11u);
  std::string contents;
  BackwardReader contents_reader(file_);
  ASSERT_TRUE(ReadPayloadInChunks(contents_reader, groups[4].contents, [&](std::string_view chunk) {
    contents += chunk;
    return true;
  }));
  EXPECT_EQ(contents, "setup bytes");
  // The walk stops at the stub's key: it never reads its own program bytes.
  EXPECT_EQ(groups[5].kind, GroupKind::kStub);
  EXPECT_EQ(groups[5].key, "stub");
  EXPECT_EQ(groups[5].name, "");
  EXPECT_EQ(groups[5].contents.length, 0u);
}

TEST_F(GroupReaderTest, InspectionReadsPastMismatchesAndKeepsTextsInPart) {
  std::string bytes = Envelope();
  bytes[0] ^= 1;  // the stub's bytes, as code signing would change them
  const size_t value = bytes.find(std::string(100, 'p'));
  bytes[value + 50] = 'q';

  std::vector<Group> groups;
  ASSERT_EQ(ReadAll(bytes, Reading::kInspection, groups, nullptr, 10), RecordStatus::kOk);
  ASSERT_EQ(groups.size(), 6u);
  EXPECT_EQ(groups[1].bad_record, RecordRole::kValue);
  EXPECT_EQ(groups[1].value, std::string(10, 'p')) << "kept in part, hashed whole";
  EXPECT_EQ(groups[3].bad_record, std::nullopt);
  EXPECT_EQ(groups[5].name, "Reader.exe");
  EXPECT_EQ(groups[5].contents.start, 0);
  EXPECT_EQ(groups[5].contents.length, kStubBytes.size());
  EXPECT_EQ(groups[5].bad_record, RecordRole::kContents);

  // The walk stops at the first mismatch, having read nothing after it.
  std::vector<Group> walked;
  EXPECT_EQ(ReadAll(bytes, Reading::kWalk, walked), RecordStatus::kDigestMismatch);
  EXPECT_EQ(walked.size(), 2u);
}

TEST_F(GroupReaderTest, AFailureNamesTheRecordAndWhereItEnds) {
  // Cut the envelope inside the file group's contents: the name reads, the
  // contents' length reaches past the start of what is left.
  const std::string whole = Envelope();
  const size_t setup = whole.find("setup bytes");
  std::string bytes = whole.substr(setup + 5);

  std::vector<Group> groups;
  GroupReadFailure failure;
  EXPECT_EQ(ReadAll(bytes, Reading::kWalk, groups, &failure), RecordStatus::kOutsideFile);
  EXPECT_EQ(failure.role, RecordRole::kContents);
  EXPECT_EQ(std::string(RecordRoleName(failure.role)), "contents");
  EXPECT_EQ(failure.end, static_cast<int64_t>(whole.find("Setup.exe") - setup - 5));
  EXPECT_EQ(groups.back().kind, GroupKind::kFile);
  EXPECT_EQ(groups.back().name, "Setup.exe") << "what was read before the failure";
}

}  // namespace
