// Reading groups with GroupReader, as written by EnvelopeWriter: the grammar
// both sides share, the walk's and the inspection's way of reading, and what
// a failure tells.
#include "groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "envelope_writer.h"
#include "launch.h"
#include "options.h"
#include "platform.h"
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

  // Reads every group of `bytes` until the reading stops; returns the status
  // it stopped with.
  RecordStatus ReadAll(const std::string& bytes, const GroupReading& reading,
                       std::vector<Group>& groups, GroupReadFailure* failure = nullptr) {
    file_ = platform::File();  // Windows cannot replace a file that is open
    test::WriteFile(path_, bytes);
    file_ = platform::File::OpenForReading(path_.string());
    EXPECT_TRUE(FindEnvelopeTail(file_));
    GroupReader reader(file_, reading);
    for (;;) {
      Group group;
      const RecordStatus status = reader.Next(group);
      if (status != RecordStatus::kOk || group.kind == GroupKind::kStub) {
        groups.push_back(group);
        if (failure != nullptr) *failure = reader.failure();
        return status;
      }
      groups.push_back(group);
    }
  }

  test::ScratchDirectory scratch_;
  std::filesystem::path path_ = scratch_.path() / "installer";
  platform::File file_;
};

TEST_F(GroupReaderTest, TheWalkReadsWhatTheWriterWrote) {
  std::vector<Group> groups;
  ASSERT_EQ(ReadAll(Envelope(), kWalkReading, groups), RecordStatus::kOk);
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
  ASSERT_TRUE(ReadPayloadInChunks(file_, groups[4].contents, [&](std::string_view chunk) {
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

  const GroupReading inspection{
      .stub_records = true, .read_past_mismatches = true, .kept_text_size = 10};
  std::vector<Group> groups;
  ASSERT_EQ(ReadAll(bytes, inspection, groups), RecordStatus::kOk);
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
  EXPECT_EQ(ReadAll(bytes, kWalkReading, walked), RecordStatus::kDigestMismatch);
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
  EXPECT_EQ(ReadAll(bytes, kWalkReading, groups, &failure), RecordStatus::kOutsideFile);
  EXPECT_EQ(failure.role, RecordRole::kContents);
  EXPECT_EQ(std::string(RecordRoleName(failure.role)), "contents");
  EXPECT_EQ(failure.end, static_cast<int64_t>(whole.find("Setup.exe") - setup - 5));
  EXPECT_EQ(groups.back().kind, GroupKind::kFile);
  EXPECT_EQ(groups.back().name, "Setup.exe") << "what was read before the failure";
}

TEST(EnvelopeWriterTest, StreamedPayloadsGiveTheSameBytesAsHeldOnes) {
  class Collect : public writer::Output {
   public:
    void Write(std::string_view bytes) override { text += bytes; }
    std::string text;
  };
  std::string contents(2 * kPayloadChunkSize + 3, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 31 + i / 977);

  Collect streamed;
  writer::EnvelopeWriter envelope(streamed);
  size_t offset = 0;
  envelope.AddFileGroup("key", "big.bin",
                        writer::Payload(contents.size(), [&](char* buffer, size_t size) {
                          EXPECT_LE(size, kPayloadChunkSize);
                          contents.copy(buffer, size, offset);
                          offset += size;
                        }));
  std::string held;
  writer::AppendFileGroup(held, "key", "big.bin", contents);
  EXPECT_EQ(offset, contents.size());
  EXPECT_TRUE(streamed.text == held);
}

TEST(LaunchCommandTest, AbsentLaunchValuesAreCreatedEmptyBeforeUse) {
  // `executable` is read first and created empty, so the parameters can
  // refer to it; `source` is the work directory without its separator.
  VariableTable table;
  SetBuiltInVariables(table, "/tmp/SF7/", "--quiet");
  Group value;
  value.kind = GroupKind::kValue;
  value.key = "parameters";
  value.value = "[%executable%] %source% %commandline%";
  InsertGroupVariable(table, value);
  value.value = "ignored: the first group read wins";
  InsertGroupVariable(table, value);

  const std::optional<LaunchCommand> command = ExpandLaunchCommand(table, "/tmp/SF7/");
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/tmp/SF7/");
  EXPECT_EQ(command->parameters, "[] /tmp/SF7 --quiet");
  EXPECT_EQ(table.count("executable"), 1u);
  EXPECT_TRUE(IsBuiltInVariable("source"));
  EXPECT_FALSE(IsBuiltInVariable("executable"));
}

TEST(OptionCollectorTest, OnlyOptionsBetweenTheTailAndTheFirstOtherGroupCount) {
  auto group = [](GroupKind kind, std::string key = "") {
    Group made;
    made.kind = kind;
    made.key = std::move(key);
    return made;
  };
  const Group tail = group(GroupKind::kTail);
  const Group exit_codes = group(GroupKind::kOption, std::string(kExitCodesOption));
  struct Case {
    const char* what;
    std::vector<Group> groups;  // in reading order
    bool exit_codes;
  };
  const Case cases[] = {
      {"none", {tail, group(GroupKind::kValue, "exit-codes")}, false},
      {"after the tail", {tail, exit_codes, group(GroupKind::kValue, "v")}, true},
      {"after an unknown option", {tail, group(GroupKind::kOption, "future"), exit_codes}, true},
      {"after a value", {tail, group(GroupKind::kValue, "v"), exit_codes}, false},
      {"after an unknown group", {tail, group(GroupKind::kOther, "k"), exit_codes}, false},
  };
  for (const Case& c : cases) {
    OptionCollector options;
    for (const Group& g : c.groups) options.Add(g);
    EXPECT_EQ(options.options().exit_codes, c.exit_codes) << c.what;
  }
}

}  // namespace
