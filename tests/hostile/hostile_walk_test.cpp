// Damaged envelopes walked in-process, one for every way of cutting or
// changing a small installer: the walk must stop where the damage is, with
// the documented message, having applied exactly the groups read before it
// and written nothing outside the work directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "envelope_walk.h"
#include "envelope_writer.h"
#include "expected_messages.h"
#include "little_endian.h"
#include "md5.h"
#include "record.h"
#include "run_state.h"
#include "tail.h"
#include "test_support.h"

using namespace format;
using namespace reader;

namespace {

namespace fs = std::filesystem;

const std::string& kInvalidArchive = test::kInvalidArchiveReport;

struct Group {
  std::string type, key;
  std::vector<std::string> further;  // in reading order
};

// A small installer shaped like a release, built group by group so that the
// test knows where every record ends and to which group it belongs.
struct Installer {
  std::string bytes;
  std::vector<Group> groups;  // in reading order, tail first
  struct Record {
    size_t end;
    size_t group;  // index into groups
    std::string payload;
  };
  std::vector<Record> records;  // in reading order
  size_t tail_start = 0;        // where the marker starts
  size_t tail_end = 0;

  Installer() {
    groups = {
        {TailMarker(), "", {}},
        {"value", "msi_parameters", {R"(USER_SOURCE_DIRECTORY=\"%source%\\\")"}},
        {"value", "parameters", {"/V\"%msi_parameters%\""}},
        {"value", "executable", {"%installer%"}},
        {"file", "", {"LogoSmall.bmp", std::string("BM\0\0pixels\xff", 11)}},
        {"file", "", {"DE5.ini", "[Strings] DE"}},
        {"value", "empty", {""}},
        {"file", "installer", {"Setup.exe", "#!/bin/sh\nexit 0\n"}},
        {"stub", "stub", {"reader"}},
    };
    // The stub group's name record stands among its further records here;
    // the walk ends after the key, so what lies below is never read.
    bytes = std::string(120, 's');
    std::vector<std::pair<size_t, std::string>> file_order;  // group, payload
    for (size_t g = groups.size(); g-- > 0;) {
      const Group& group = groups[g];
      for (auto r = group.further.rbegin(); r != group.further.rend(); ++r) {
        file_order.push_back({g, *r});
      }
      if (g != 0) file_order.push_back({g, group.key});
      file_order.push_back({g, group.type});
    }
    for (const auto& [group, payload] : file_order) {
      if (group == 0) tail_start = bytes.size();
      writer::AppendRecord(bytes, payload);
      records.insert(records.begin(), Record{bytes.size(), group, payload});
    }
    tail_end = bytes.size();
    for (int i = 0; i < 64; ++i) bytes += static_cast<char>(0x30 + i % 40);  // a signature
  }

  // What the walk leaves when it stops before group `stop` (every group
  // before it in reading order applied).
  void Expected(size_t stop, VariableTable& variables,
                std::map<std::string, std::string>& files) const {
    for (size_t g = 1; g < stop && g < groups.size(); ++g) {
      const Group& group = groups[g];
      if (group.type == "value") variables.emplace(group.key, group.further[0]);
      if (group.type == "file") {
        if (!group.key.empty()) variables.emplace(group.key, group.further[0]);
        files[group.further[0]] = group.further[1];
      }
    }
  }
};

class HostileWalkTest : public testing::Test {
 protected:
  struct Outcome {
    std::string messages;
    RunState state;
    std::map<std::string, std::string> files;
  };

  Outcome Walk(const std::string& bytes) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    test::WriteFile(program_, bytes);
    Outcome outcome;
    outcome.state.work_directory = work_.string() + "/";
    {
      test::MessageCapture messages;
      WalkEnvelope(program_.string(), outcome.state);
      outcome.messages = messages.Take();
    }
    for (const auto& entry : fs::directory_iterator(work_)) {
      outcome.files[entry.path().filename().string()] = test::ReadFile(entry.path());
    }
    // Nothing but the program file and the work directory beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 2);
    return outcome;
  }

  test::ScratchDirectory scratch_;
  fs::path work_ = scratch_.path() / "work";
  fs::path program_ = scratch_.path() / "installer";
  const Installer installer_;
};

TEST_F(HostileWalkTest, EveryTruncationPointEndsAsDocumented) {
  const std::string& whole = installer_.bytes;
  VariableTable all_variables;
  std::map<std::string, std::string> all_files;
  installer_.Expected(installer_.groups.size(), all_variables, all_files);
  ASSERT_EQ(all_files.size(), 3u);

  for (size_t size = 0; size <= whole.size(); ++size) {
    const Outcome outcome = Walk(whole.substr(0, size));
    if (size >= installer_.tail_end) {
      // Only the signature was cut: the whole envelope is there.
      EXPECT_EQ(outcome.messages, "") << size;
      EXPECT_TRUE(outcome.state.envelope_valid) << size;
      EXPECT_EQ(outcome.state.variables, all_variables) << size;
      EXPECT_EQ(outcome.files, all_files) << size;
      continue;
    }
    // Without the whole tail record nothing is applied. The marker is found
    // once a byte follows it; the record around it is then incomplete.
    const bool marker_found = size > installer_.tail_start + TailMarker().size();
    EXPECT_EQ(outcome.messages, marker_found
                                    ? ""
                                    : "Failed to initialize archive!: File: " + program_.string() +
                                          "\nError: " + platform::SystemErrorText(0) + "\n")
        << size;
    EXPECT_FALSE(outcome.state.envelope_valid) << size;
    EXPECT_TRUE(outcome.state.variables.empty()) << size;
    EXPECT_TRUE(outcome.files.empty()) << size;
  }
}

TEST_F(HostileWalkTest, ABadLengthOrDigestInAnyRecordStopsTheWalkThere) {
  const std::string& whole = installer_.bytes;
  const uint32_t size = static_cast<uint32_t>(whole.size());
  size_t cases = 0;
  for (size_t r = 0; r < installer_.records.size(); ++r) {
    const Installer::Record& record = installer_.records[r];
    // The stub group's key ends the walk; the name below it is never read.
    if (r + 1 == installer_.records.size()) continue;
    const uint32_t to_start = static_cast<uint32_t>(record.end - 20);
    std::vector<std::string> damaged;
    for (const uint32_t length : {0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, size - 1, size,
                                  size + 1, to_start, to_start + 1}) {
      if (length == record.payload.size()) continue;  // no change
      damaged.push_back(whole);
      test::SetRecordLength(damaged.back(), record.end, length);
    }
    // The digest of the record read after it.
    const Installer::Record& other = installer_.records[r + 1];
    if (Md5Hasher(other.payload).Digest() != Md5Hasher(record.payload).Digest()) {
      damaged.push_back(whole);
      damaged.back().replace(record.end - 16, 16, whole.substr(other.end - 16, 16));
    }

    for (const std::string& bytes : damaged) {
      ++cases;
      // What the reader would take as this record's payload, if anything.
      const uint32_t length = LoadLittleEndian32(
          reinterpret_cast<const unsigned char*>(bytes.data()) + record.end - kRecordTrailerSize);
      const bool in_file = length <= record.end - 20;
      const bool mismatch =
          in_file && Md5Hasher(bytes.substr(record.end - 20 - length, length)).Digest() !=
                         bytes.substr(record.end - 16, 16);
      ASSERT_TRUE(!in_file || mismatch) << "record " << r << ": the damage must be seen";

      const Outcome outcome = Walk(bytes);
      VariableTable variables;
      std::map<std::string, std::string> files;
      installer_.Expected(record.group, variables, files);
      EXPECT_EQ(outcome.messages, mismatch ? kInvalidArchive : "")
          << "record " << r << " length " << length;
      EXPECT_EQ(outcome.state.envelope_valid, !mismatch && record.group != 0) << "record " << r;
      EXPECT_EQ(outcome.state.variables, variables) << "record " << r;
      EXPECT_EQ(outcome.files, files) << "record " << r;
    }
  }
  EXPECT_GE(cases, 8 * (installer_.records.size() - 1));
}

}  // namespace
