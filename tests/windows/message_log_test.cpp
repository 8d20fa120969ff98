// The message log: where a message box would wait for ever (a window station
// that is not visible, as the Windows platform layer tells), each message
// becomes a line of the run's log instead.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform_messages.h"
#include "reporting.h"
#include "test_support.h"

namespace {

TEST(MessageLogTest, UnseenMessagesBecomeLinesOfTheLogAndTheRunGoesOn) {
  test::ScratchDirectory scratch;
  const std::string log = (scratch.path() / "SF1234.log").string();
  SetLastError(ERROR_ACCESS_DENIED);
  reader::AppendToMessageLog(log, "File: C:\\Temp\\SF1\\a.txt\rError: Access is denied.",
                             "Failed to extract file!");
  const DWORD kept = GetLastError();
  reader::AppendToMessageLog(log, "Another installation is running.\nPlease wait.",
                             "Already Running");
  reader::AppendToMessageLog(log, "We are sorry.\r\nPlease download it again.", "Invalid Archive!");

  EXPECT_EQ(kept, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the last error survives";
  EXPECT_EQ(test::ReadFile(log),
            "Failed to extract file!: File: C:\\Temp\\SF1\\a.txt Error: Access is denied.\r\n"
            "Already Running: Another installation is running. Please wait.\r\n"
            "Invalid Archive!: We are sorry. Please download it again.\r\n");
}

TEST(MessageLogTest, MessagesAreShownOnlyInAVisibleWindowStation) {
  EXPECT_TRUE(platform::MessagesCanBeShown()) << "the interactive window station";
  const HWINSTA interactive = GetProcessWindowStation();
  const HWINSTA hidden =
      CreateWindowStationW(L"QuillmarrowHiddenStation", 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(hidden, nullptr);
  ASSERT_TRUE(SetProcessWindowStation(hidden));
  const bool shown_there = platform::MessagesCanBeShown();
  SetProcessWindowStation(interactive);
  CloseWindowStation(hidden);
  EXPECT_FALSE(shown_there);
  EXPECT_TRUE(platform::MessagesCanBeShown()) << "asked again, not remembered";
}

}  // namespace
