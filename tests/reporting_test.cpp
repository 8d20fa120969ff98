// Where the reader's messages go: shown where someone can see them, else
// lines of the run's message log.
#include "reporting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform_messages.h"
#include "test_support.h"

using namespace reader;

namespace {

namespace fs = std::filesystem;

TEST(ReportingTest, AMessageThatCanBeSeenIsShownAndNotLogged) {
  ASSERT_TRUE(platform::MessagesCanBeShown());
  test::ScratchDirectory scratch;
  MessageDestination destination;
  destination.log = (scratch.path() / "SF1.log").string();
  test::MessageCapture messages;
  Report(destination, {"Unable to spawn process", "ShellExecuteEx failed"});
  EXPECT_EQ(messages.Take(), "ShellExecuteEx failed: Unable to spawn process\n");
  EXPECT_FALSE(fs::exists(destination.log));
}

TEST(ReportingTest, TheLogGetsOneLineAMessageAppendedAndNothingWithoutAPath) {
  test::ScratchDirectory scratch;
  const fs::path log = scratch.path() / "SF1.log";
  test::WriteFile(log, "earlier run\r\n");
  EXPECT_TRUE(AppendToMessageLog(log.string(), "one\rtwo\nthree\r\n", "Caption"));
  EXPECT_TRUE(AppendToMessageLog(log.string(), "", "Empty"));
  EXPECT_EQ(test::ReadFile(log), "earlier run\r\nCaption: one two three \r\nEmpty: \r\n");
  EXPECT_FALSE(AppendToMessageLog("", "text", "Caption"));

  const fs::path fresh = scratch.path() / "fresh.log";
  EXPECT_TRUE(AppendToMessageLog(fresh.string(), "text", "Caption"));
  EXPECT_EQ(test::ReadFile(fresh), "Caption: text\r\n");
#ifndef _WIN32
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0600)) << "private to this user";
  // A link in the log's place is not written through.
  const fs::path victim = scratch.path() / "victim";
  test::WriteFile(victim, "keep");
  fs::create_symlink(victim, scratch.path() / "linked.log");
  EXPECT_FALSE(AppendToMessageLog((scratch.path() / "linked.log").string(), "text", "Caption"));
  EXPECT_EQ(test::ReadFile(victim), "keep");
#endif
}

}  // namespace
