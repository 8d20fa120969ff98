// Reading manifests and flags, and the rules a packed plan must satisfy.
#include <gtest/gtest.h>

#include "manifest.h"
#include "pack_flags.h"
#include "plan_rules.h"
#include "test_support.h"
#include "tool_error.h"
#include "variables.h"

using namespace tool;

namespace {

namespace fs = std::filesystem;

class ManifestTest : public testing::Test {
 protected:
  PackPlan Read(const std::string& text) {
    test::WriteFile(scratch_.path() / "installer.toml", text);
    return ReadManifest(scratch_.path() / "installer.toml");
  }

  // The one-line error a manifest gives.
  std::string ErrorOf(const std::string& text) {
    try {
      Read(text);
    } catch (const ToolError& error) {
      return error.what();
    }
    return "(no error)";
  }

  test::ScratchDirectory scratch_;
};

std::string PlanError(const PackPlan& plan) {
  try {
    CheckPlan(plan);
  } catch (const ToolError& error) {
    return error.what();
  }
  return "";
}

TEST_F(ManifestTest, KeepsTheListedOrderAndTextsAsWritten) {
  const PackPlan plan = Read(R"(
stub_name = "Reader.exe"
[[file]]
key = "installer"
name = "Setup.exe"
source = "bin/setup.exe"
[[file]]
name = "BG5.ini"
source = "../lang/BG5.ini"
[[value]]
key = "parameters"
text = '/V"/l*v install.txt %msi_parameters%"'
[[value]]
key = "msi_parameters"
text = 'USER_SOURCE_DIRECTORY=\"%source%\\\"'
)");
  EXPECT_EQ(plan.stub_name, "Reader.exe");
  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].key, "installer");
  EXPECT_EQ(plan.files[0].source, scratch_.path() / "bin/setup.exe");
  EXPECT_EQ(plan.files[1].key, "");
  EXPECT_EQ(plan.files[1].name, "BG5.ini");
  EXPECT_EQ(plan.files[1].source, scratch_.path() / "../lang/BG5.ini");
  ASSERT_EQ(plan.values.size(), 2u);
  EXPECT_EQ(plan.values[0].text, R"(/V"/l*v install.txt %msi_parameters%")");
  EXPECT_EQ(plan.values[1].text, R"(USER_SOURCE_DIRECTORY=\"%source%\\\")");
  EXPECT_EQ(PlanError(plan), "");
}

TEST_F(ManifestTest, MistakesArePointedAtWithFileAndLine) {
  const std::string where = (scratch_.path() / "installer.toml").string();
  EXPECT_EQ(ErrorOf("[[file]]\nname = \"a\"\nsorce = \"a\"\n"),
            where + ":3:1: unknown key \"sorce\" in a [[file]]");
  EXPECT_EQ(ErrorOf("\n[[value]]\nkey = \"a\"\n"), where + ":2:1: missing text");
  EXPECT_EQ(ErrorOf("[[value]]\nkey = \"a\"\ntext = 5\n"), where + ":3:8: text must be a string");
  EXPECT_EQ(ErrorOf("[file]\nname = \"a\"\n"),
            where + ":1:1: file must be written as [[file]] tables");
  EXPECT_EQ(ErrorOf("stubname = \"x\"\n"),
            where + ":1:1: unknown key \"stubname\" in the manifest");
  // Syntax errors, including a key given twice in one table, come from the
  // TOML parser with their position.
  EXPECT_EQ(ErrorOf("[[value]]\nkey = \"a\"\nkey = \"b\"\n").rfind(where + ":3:", 0), 0u);
  EXPECT_EQ(ErrorOf("text = 'unterminated\n").rfind(where + ":1:", 0), 0u);
}

TEST_F(ManifestTest, CompressionIsBestUnlessTheManifestOrAFileSaysOtherwise) {
  using writer::Compression;
  const std::string files =
      "[[file]]\nname = \"a\"\nsource = \"a\"\n"
      "[[file]]\nname = \"b\"\nsource = \"b\"\ncompression = \"none\"\n";
  const struct {
    const char* top;
    Compression default_level;
  } cases[] = {
      {"", Compression::kBest},
      {"compression = \"none\"\n", Compression::kNone},
      {"compression = \"fast\"\n", Compression::kFast},
      {"compression = \"best\"\n", Compression::kBest},
  };
  for (const auto& [top, default_level] : cases) {
    const PackPlan plan = Read(top + files);
    EXPECT_EQ(plan.compression, default_level) << top;
    ASSERT_EQ(plan.files.size(), 2u);
    EXPECT_EQ(plan.files[0].compression, std::nullopt) << top;
    EXPECT_EQ(plan.files[1].compression, Compression::kNone) << top;
  }

  const std::string where = (scratch_.path() / "installer.toml").string();
  EXPECT_EQ(ErrorOf("compression = \"gzip\"\n"),
            where + ":1:15: compression \"gzip\" is unknown: use none, fast or best");
  EXPECT_EQ(ErrorOf("[[file]]\nname = \"c\"\nsource = \"c\"\ncompression = \"Best\"\n"),
            where + ":4:15: compression \"Best\" is unknown: use none, fast or best");
  EXPECT_EQ(ErrorOf("compression = 9\n"), where + ":1:15: compression must be a string");
}

TEST_F(ManifestTest, TreesAreReadWithTheirSourcesAndLevels) {
  const PackPlan plan = Read(R"(
compression = "fast"
[[tree]]
source = "dist/app"
[[tree]]
source = "../shared"
compression = "none"
)");
  ASSERT_EQ(plan.trees.size(), 2u);
  EXPECT_EQ(plan.trees[0].source, scratch_.path() / "dist/app");
  EXPECT_EQ(plan.trees[0].compression, std::nullopt);
  EXPECT_EQ(plan.trees[1].source, scratch_.path() / "../shared");
  EXPECT_EQ(plan.trees[1].compression, writer::Compression::kNone);
  EXPECT_EQ(plan.compression, writer::Compression::kFast);
  EXPECT_TRUE(plan.files.empty());

  const std::string where = (scratch_.path() / "installer.toml").string();
  const std::pair<const char*, std::string> refused[] = {
      {"[[tree]]\nsource = \"a\"\nname = \"b\"\n",
       where + ":3:1: unknown key \"name\" in a [[tree]]"},
      {"\n[[tree]]\ncompression = \"none\"\n", where + ":2:1: missing source"},
      {"[[tree]]\nsource = \"a\"\ncompression = \"zip\"\n",
       where + ":3:15: compression \"zip\" is unknown: use none, fast or best"},
      {"tree = \"dist\"\n", where + ":1:8: tree must be written as [[tree]] tables"},
  };
  for (const auto& [text, error] : refused) EXPECT_EQ(ErrorOf(text), error) << text;
}

TEST(ManifestFlags, CompressionNamesTheThreeLevels) {
  using writer::Compression;
  for (const Compression level : {Compression::kNone, Compression::kFast, Compression::kBest}) {
    EXPECT_EQ(ParseCompressionFlag(CompressionName(level)), level);
  }
  EXPECT_EQ(CompressionName(Compression::kFast), "fast");
  for (const char* wrong : {"", "zlib", "9", "NONE"}) {
    try {
      ParseCompressionFlag(wrong);
      ADD_FAILURE() << wrong;
    } catch (const ToolError& error) {
      EXPECT_EQ(std::string(error.what()),
                "--compression \"" + std::string(wrong) + "\": expected none, fast or best");
    }
  }
}

TEST(ManifestFlags, SplitAtTheFirstColonAndEqualsSign) {
  const FileEntry file = ParseFileFlag("installer:Setup.exe=build/a=b.exe");
  EXPECT_EQ(file.key, "installer");
  EXPECT_EQ(file.name, "Setup.exe");
  EXPECT_EQ(file.source, "build/a=b.exe");
  EXPECT_EQ(ParseFileFlag(":BG5.ini=BG5.ini").key, "");
  const ValueEntry value = ParseValueFlag("parameters=/q A=B");
  EXPECT_EQ(value.key, "parameters");
  EXPECT_EQ(value.text, "/q A=B");
  EXPECT_THROW(ParseFileFlag("Setup.exe=a"), ToolError);
  EXPECT_THROW(ParseFileFlag("key:Setup.exe"), ToolError);
  EXPECT_THROW(ParseValueFlag("parameters"), ToolError);
}

TEST(ManifestFlags, ATreeFlagNamesADirectoryPackedAtThePlansLevel) {
  const TreeSource tree = ParseTreeFlag("dist/my app=1:x");
  EXPECT_EQ(tree.source, "dist/my app=1:x");
  EXPECT_EQ(tree.compression, std::nullopt);
  EXPECT_EQ(ParseFileFlag("installer:bin/setup.exe=build/setup.exe").name, "bin/setup.exe");
  try {
    ParseTreeFlag("");
    ADD_FAILURE() << "an empty --tree";
  } catch (const ToolError& error) {
    EXPECT_EQ(std::string(error.what()), "--tree \"\": expected a directory");
  }
}

TEST(PlanRules, RefuseWhatTheReaderWouldIgnoreOrNeverReach) {
  auto with_value = [](std::string key) {
    PackPlan plan;
    plan.values.push_back({std::move(key), "text"});
    return plan;
  };
  EXPECT_EQ(PlanError(with_value("")), "a value has an empty key and could never be referred to");
  EXPECT_EQ(PlanError(with_value("source")),
            "value \"source\": the key \"source\" is set by the reader itself, which would ignore "
            "this one");
  EXPECT_NE(PlanError(with_value("commandline")), "");
  EXPECT_EQ(PlanError(with_value("a%b")),
            "value \"a%b\": the key \"a%b\" contains \"%\" and could never be referred to");

  PackPlan twice = with_value("installer");
  twice.files.push_back({"installer", "Setup.exe", "x"});
  EXPECT_EQ(PlanError(twice), "value \"installer\": the key \"installer\" is given twice");

  PackPlan names;
  names.files = {{"", "Setup.exe", "x"}, {"", "setup.EXE", "y"}};
  EXPECT_EQ(PlanError(names), "file \"setup.EXE\": the name is given twice");

  PackPlan empty_keys;  // files without a key set no variable and may be many
  empty_keys.files = {{"", "a.ini", "x"}, {"", "b.ini", "y"}};
  EXPECT_EQ(PlanError(empty_keys), "");
}

TEST(PlanRules, TextsMustBeUtf8) {
  PackPlan utf8;
  utf8.stub_name = "Загрузчик.exe";
  utf8.files = {{"größe", "Größe.ini", "x"}, {"", "下载 𝄞.txt", "y"}};
  utf8.values = {{"greeting", "Привет, 世界"}};
  EXPECT_EQ(PlanError(utf8), "");

  const struct {
    const char* stub_name;
    FileEntry file;
    ValueEntry value;
    std::string error;
  } cases[] = {
      {"Reader\xE9.exe", {}, {}, "stub name \"Reader\\xe9.exe\" is not valid UTF-8"},
      {nullptr, {"", "caf\xE9.ini", "x"}, {}, "file \"caf\\xe9.ini\": the name is not valid UTF-8"},
      {nullptr,
       {"k\xE9y", "a.ini", "x"},
       {},
       "file \"a.ini\": the key \"k\\xe9y\" is not valid UTF-8"},
      {nullptr, {}, {"k\xC3", "text"}, "value \"k\\xc3\": the key \"k\\xc3\" is not valid UTF-8"},
      {nullptr,
       {},
       {"parameters", "/dir=C:\\Temp\xED\xA0\x80"},
       "value \"parameters\": the text is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    PackPlan plan;
    if (c.stub_name != nullptr) plan.stub_name = c.stub_name;
    if (!c.file.name.empty()) plan.files.push_back(c.file);
    if (!c.value.key.empty()) plan.values.push_back(c.value);
    EXPECT_EQ(PlanError(plan), c.error);
  }
}

TEST(PlanRules, LaunchValuesMustExpandWithinTheReadersLimits) {
  PackPlan plan;
  plan.values.push_back({"parameters", "%v30%"});
  plan.values.push_back({"v0", "x"});
  for (int i = 1; i <= 30; ++i) {  // each value names the one below twice
    const std::string below = "%v" + std::to_string(i - 1) + "%";
    plan.values.push_back({"v" + std::to_string(i), below + below});
  }
  EXPECT_NE(PlanError(plan).find("value \"parameters\": expands beyond what the reader allows"),
            std::string::npos);
  plan.values[0].text = "%v10%";  // 1,024 bytes
  EXPECT_EQ(PlanError(plan), "");
}

TEST(PlanRules, LaunchValuesAreCheckedAsTheReaderExpandsThem) {
  // The launch creates an absent `executable` empty before it expands the
  // parameters, so a reference to it takes no room: these parameters fill
  // the limit exactly, and the reader would start them.
  PackPlan plan;
  plan.values.push_back({"parameters", "%executable%%big%"});
  plan.values.push_back({"big", std::string(format::kMaxExpandedSize, 'x')});
  EXPECT_EQ(PlanError(plan), "");
  plan.values[0].text += "!";
  EXPECT_EQ(PlanError(plan),
            "value \"parameters\": expands beyond what the reader allows (1 MiB, or too much "
            "work), so it would start nothing");
}

TEST(PlanRules, FileNamesMustBeExtractableOnEverySystem) {
  for (const char* name : {"Setup.exe", "LogoSmall.bmp", "a b.txt", ".hidden", "x..y"}) {
    EXPECT_EQ(RefusedFileName(name), "") << name;
  }
  const std::pair<const char*, const char*> refused[] = {
      {"", "is empty"},
      {"/etc/passwd", "leaves the work directory"},
      {"\\Windows\\x", "leaves the work directory"},
      {"C:x", "leaves the work directory"},
      {"..", "leaves the work directory"},
      {"a/../../b", "leaves the work directory"},
      {"sub/file", "has a directory part"},
      {"sub\\file", "has a directory part"},
      {".", "names a directory"},
      {"a?.txt", "contains a character Windows does not allow in file names"},
      {"tab\there", "contains a character Windows does not allow in file names"},
      {"name.", "ends in a dot or space, which Windows drops"},
      {"name ", "ends in a dot or space, which Windows drops"},
      {"NUL", "is a device name on Windows"},
      {"con.txt", "is a device name on Windows"},
      {"Lpt9.log", "is a device name on Windows"},
  };
  for (const auto& [name, reason] : refused) EXPECT_EQ(RefusedFileName(name), reason) << name;
  EXPECT_EQ(RefusedFileName("COM0"), "");
  EXPECT_EQ(RefusedFileName("CONSOLE.txt"), "");
}

TEST(PlanRules, TheStubNameIsTheGivenOneOrTheStubsFileNameIfExtractable) {
  PackPlan given;
  given.stub_name = "Reader.exe";
  EXPECT_EQ(RecordedStubName(given, "reader\xE9"), "Reader.exe");  // CheckPlan checks it
  EXPECT_EQ(RecordedStubName(PackPlan{}, "reader"), "reader");
  const std::pair<const char*, const char*> refused[] = {
      {"reader\xE9", "stub name \"reader\\xe9\" is not valid UTF-8; give one with --stub-name"},
      {"reader.",
       "stub name \"reader.\" ends in a dot or space, which Windows drops; give one "
       "with --stub-name"},
  };
  for (const auto& [file_name, error] : refused) {
    try {
      RecordedStubName(PackPlan{}, file_name);
      ADD_FAILURE() << file_name;
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()), error);
    }
  }
}

}  // namespace
