// Which file names an envelope may extract, and which may stand for the
// temporary files extraction writes.
#include "file_names.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

using namespace format;

namespace {

using namespace std::string_literals;

TEST(ContainedFileNameTest, AcceptsOnlyRelativeNamesWithoutParentSteps) {
  for (const char* name : {"Setup.exe", "sub/file", "sub\\file", "a..b", "..hidden", "x/..y", ".",
                           "./file", "file.."}) {
    EXPECT_TRUE(IsContainedFileName(name)) << name;
  }
  for (const std::string& name : std::initializer_list<std::string>{
           "..", "../x", "x/..", "x\\..\\y", "/abs", "\\abs", "C:\\x", "c:x", "a/b/../../..",
           "..\0x"s, "x\0"s, "\0/abs"s}) {
    EXPECT_FALSE(IsContainedFileName(name)) << name;
  }
}

// A name that may stand for a temporary file, in any case or as Windows' short
// 8.3 name of one, in any component; no other name does.
TEST(TemporaryFileNameTest, TellsTheNamesThatMayStandForATemporaryFile) {
  for (const char* name : {"~extracting-1", "~EXTRACTING-12", "~Extra~1", "./~extracting-0",
                           "sub\\~extracting-3", "~extracting-1/.", "~extract"}) {
    EXPECT_TRUE(MayNameTemporaryFile(name)) << name;
  }
  for (const char* name :
       {"Setup.exe", "~extr", "x~extracting-1", " ~extracting-1", "~ex/tracting", ""}) {
    EXPECT_FALSE(MayNameTemporaryFile(name)) << name;
  }
}

}  // namespace
