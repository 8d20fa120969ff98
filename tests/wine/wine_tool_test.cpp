// envelope.exe, the tool cross-built for 64-bit Windows, under Wine: a release
// engineer's session on Windows (drive letters, backslashes, a manifest beside
// its inputs, names beyond ASCII), and the installer it packs, compared byte
// for byte with what this build's envelope packs from the same inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_support.h"
#include "wine_runner.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct ToolRun {
  int exit_code = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

class WineToolTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root() / "inputs");
    test::WriteFile(root() / "inputs/setup.cmd", "@echo off\r\necho %*\r\n");
    test::WriteFile(root() / "inputs/data.bin", data_);
    test::WriteFile(manifest(), R"(stub_name = "Reader.exe"
[[file]]
key = "installer"
name = "Setup.cmd"
source = "inputs/setup.cmd"
[[file]]
name = "data.bin"
source = "inputs/data.bin"
[[value]]
key = "executable"
text = "%installer%"
[[value]]
key = "parameters"
text = '/source "%source%"'
)");
  }

  const fs::path& root() const { return scratch_.path(); }
  fs::path manifest() const { return root() / "installer.toml"; }

  // envelope.exe with `arguments`; its standard output and error kept apart.
  ToolRun WindowsTool(const std::vector<std::string>& arguments) {
    const fs::path run = root() / ("wine-run-" + std::to_string(++runs_));
    fs::create_directory(run);
    wine::Program program(ENVELOPE_EXE, run, {{"WINEDEBUG", "-all"}}, arguments);
    const wine::Result result = program.Wait();
    return {result.exit_code, test::ReadFile(run / "wine-output.txt"), result.trace};
  }

  // This build's envelope.
  ToolRun LinuxTool(const std::vector<std::string>& arguments) {
    test::LaunchOptions options;
    options.arguments = arguments;
    const test::ProgramResult result = test::RunProgram(ENVELOPE_PATH, options);
    return {result.exit_code, result.output, result.errors};
  }

  test::ScratchDirectory scratch_;
  const std::string data_ = test::RandomBytes(1024 * 1024 + 17, 15);  // more than one copy chunk
  int runs_ = 0;
};

TEST_F(WineToolTest, PacksListsVerifiesAndExtractsTheBytesTheLinuxToolPacks) {
  const std::string stub = wine::WindowsPath(READER_EXE);
  ASSERT_EQ(LinuxTool({"pack", "--stub", READER_EXE, "--manifest", manifest().string(),
                       "--compression", "none", "--output", (root() / "linux.exe").string()})
                .exit_code,
            0);
  const std::string linux_installer = test::ReadFile(root() / "linux.exe");

  // From the manifest, and from flags naming the inputs the Windows way.
  const std::string installer = wine::WindowsPath(root() / "Setup.exe");
  const ToolRun packed =
      WindowsTool({"pack", "--stub", stub, "--manifest", wine::WindowsPath(manifest()),
                   "--compression", "none", "--output", installer});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;
  EXPECT_EQ(packed.output + packed.errors, "");
  EXPECT_TRUE(test::ReadFile(root() / "Setup.exe") == linux_installer);
  const ToolRun flags = WindowsTool(
      {"pack", "--stub", stub, "--stub-name", "Reader.exe", "--file",
       "installer:Setup.cmd=" + wine::WindowsPath(root() / "inputs/setup.cmd"), "--file",
       ":data.bin=" + wine::WindowsPath(root() / "inputs/data.bin"), "--value",
       "executable=%installer%", "--value", "parameters=/source \"%source%\"", "--compression",
       "none", "--output", installer});  // over the first: replaced whole
  ASSERT_EQ(flags.exit_code, 0) << flags.errors;
  EXPECT_TRUE(test::ReadFile(root() / "Setup.exe") == linux_installer);
  EXPECT_EQ(test::EntryNames(root()),
            (std::set<std::string>{"inputs", "installer.toml", "linux.exe", "Setup.exe",
                                   "wine-run-1", "wine-run-2"}));

  const ToolRun listed = WindowsTool({"list", "--json", installer});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  EXPECT_EQ(listed.errors, "");
  const json document = json::parse(listed.output);
  EXPECT_EQ(document["installer"], installer);
  EXPECT_TRUE(document["windows_program"].get<bool>());
  std::vector<std::string> groups;
  for (const json& group : document["groups"]) {
    groups.push_back(group["type"].get<std::string>() + ":" +
                     group.value("name", group.value("key", "")));
  }
  EXPECT_EQ(groups,
            (std::vector<std::string>{"tail:", "value:parameters", "value:executable",
                                      "file:data.bin", "file:Setup.cmd", "stub:Reader.exe"}));
  EXPECT_EQ(document["command_line"]["executable"], "<work>\\Setup.cmd");

  const ToolRun verified = WindowsTool({"verify", installer});
  EXPECT_EQ(verified.exit_code, 0) << verified.errors;
  EXPECT_NE(verified.output.find("6 groups, every digest matches"), std::string::npos)
      << verified.output;

  const std::string out = wine::WindowsPath(root() / "out") + "\\nested";
  const ToolRun extracted = WindowsTool({"extract", installer, "--to", out});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.errors;
  EXPECT_TRUE(test::ReadFile(root() / "out/nested/data.bin") == data_);
  EXPECT_EQ(test::ReadFile(root() / "out/nested/Setup.cmd"), "@echo off\r\necho %*\r\n");
  EXPECT_NE(extracted.output.find("parameters=/source \"%source%\""), std::string::npos)
      << extracted.output;
  const ToolRun again = WindowsTool({"extract", installer, "--to", out});
  EXPECT_EQ(again.exit_code, 2);
  EXPECT_NE(again.errors.find("already exists"), std::string::npos) << again.errors;
}

// Compressed on Windows as on Linux: the same zlib, so the same bytes at
// every level, and list shows the original sizes.
TEST_F(WineToolTest, CompressesToTheBytesTheLinuxToolPacks) {
  std::string text;
  for (int line = 0; text.size() < 2 * 1024 * 1024 + 5; ++line) {
    text += "line " + std::to_string(line) + " of the release notes\r\n";
  }
  test::WriteFile(root() / "inputs/notes.txt", text);
  test::WriteFile(manifest(),
                  test::ReadFile(manifest()) +
                      "[[file]]\nname = \"notes.txt\"\nsource = \"inputs/notes.txt\"\n");
  for (const std::vector<std::string>& level :
       {std::vector<std::string>{}, {"--compression", "fast"}}) {
    std::vector<std::string> on_linux = {"pack",
                                         "--stub",
                                         READER_EXE,
                                         "--manifest",
                                         manifest().string(),
                                         "--output",
                                         (root() / "linux.exe").string()};
    std::vector<std::string> on_windows = {"pack",
                                           "--stub",
                                           wine::WindowsPath(READER_EXE),
                                           "--manifest",
                                           wine::WindowsPath(manifest()),
                                           "--output",
                                           wine::WindowsPath(root() / "Setup.exe")};
    on_linux.insert(on_linux.end(), level.begin(), level.end());
    on_windows.insert(on_windows.end(), level.begin(), level.end());
    ASSERT_EQ(LinuxTool(on_linux).exit_code, 0);
    const ToolRun packed = WindowsTool(on_windows);
    ASSERT_EQ(packed.exit_code, 0) << packed.errors;
    EXPECT_TRUE(test::ReadFile(root() / "Setup.exe") == test::ReadFile(root() / "linux.exe"))
        << level.size();
  }
  const ToolRun listed = WindowsTool({"list", "--json", wine::WindowsPath(root() / "Setup.exe")});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  const json document = json::parse(listed.output);
  std::vector<std::string> files;
  for (const json& group : document["groups"]) {
    if (group.contains("original_size")) {
      files.push_back(group["type"].get<std::string>() + ":" + group["name"].get<std::string>() +
                      ":" + std::to_string(group["original_size"].get<uint64_t>()));
    }
  }
  EXPECT_EQ(files,
            (std::vector<std::string>{
                "zfile:notes.txt:" + std::to_string(text.size()),
                "zfile:data.bin:" + std::to_string(data_.size()),
                "zfile:Setup.cmd:" + std::to_string(fs::file_size(root() / "inputs/setup.cmd"))}));
  EXPECT_LT(document["groups"][3]["size"].get<uint64_t>(), text.size() / 4);
}

// Names beyond ASCII and outside the ANSI code page, in every place a path or
// a packed name is given: the command line, the manifest, the envelope.
TEST_F(WineToolTest, NamesBeyondAsciiArePackedAndExtracted) {
  const std::string data_name =
      "donn\xc3\xa9"
      "es-\xe7\xbc\x96.bin";                                          // données-编.bin
  fs::create_directory(root() / "\xd0\xb2\xd1\x85\xd0\xbe\xd0\xb4");  // вход
  test::WriteFile(root() / "\xd0\xb2\xd1\x85\xd0\xbe\xd0\xb4" / data_name, data_);
  test::WriteFile(root() / "\xc3\xbc.toml", "[[file]]\nname = \"" + data_name +
                                                "\"\nsource = '\xd0\xb2\xd1\x85\xd0\xbe\xd0\xb4\\" +
                                                data_name + "'\n");
  const std::string installer = wine::WindowsPath(root() / "Install\xe2\x82\xac.exe");
  const ToolRun packed =
      WindowsTool({"pack", "--stub", wine::WindowsPath(READER_EXE), "--manifest",
                   wine::WindowsPath(root() / "\xc3\xbc.toml"), "--output", installer});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;
  const ToolRun listed = WindowsTool({"list", "--json", installer});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  EXPECT_EQ(json::parse(listed.output)["groups"][1]["name"], data_name);
  const ToolRun extracted = WindowsTool(
      {"extract", installer, "--to", wine::WindowsPath(root() / "\xd0\xb2\xd1\x8b\xd1\x85")});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.errors;
  EXPECT_TRUE(test::ReadFile(root() / "\xd0\xb2\xd1\x8b\xd1\x85" / data_name) == data_);
}

// As on Linux: a command that fails leaves standard output empty.
TEST_F(WineToolTest, FailuresGoToStandardErrorAndLeaveStandardOutputEmpty) {
  test::WriteFile(root() / "notaninstaller.exe", "MZ, but no envelope");
  const std::string file = wine::WindowsPath(root() / "notaninstaller.exe");
  const std::vector<std::string> cases[] = {
      {"list", file},
      {"list", "--json", file},
      {"verify", file},
      {"extract", file, "--to", wine::WindowsPath(root() / "out")},
      {"pack", "--stub", wine::WindowsPath(root() / "missing.exe"), "--value", "a=b", "--output",
       wine::WindowsPath(root() / "out.exe")},
  };
  for (const std::vector<std::string>& arguments : cases) {
    const ToolRun result = WindowsTool(arguments);
    EXPECT_NE(result.exit_code, 0) << arguments[0];
    EXPECT_EQ(result.output, "") << arguments[0];
    EXPECT_EQ(result.errors.rfind("envelope: ", 0), 0u) << arguments[0] << ": " << result.errors;
  }
  EXPECT_FALSE(fs::exists(root() / "out"));
  EXPECT_FALSE(fs::exists(root() / "out.exe"));
}

// Names equal but for case beyond ASCII are one to Windows: envelope.exe
// compares them with the system's own casing, as the Linux tool does.
TEST_F(WineToolTest, NamesEqualButForCaseBeyondAsciiAreRefused) {
  const std::string data = wine::WindowsPath(root() / "inputs/data.bin");
  for (const auto& [first, second] : {std::pair{"\xce\xa3.txt", "\xcf\x83.txt"},     // Σ, σ
                                      std::pair{"\xc3\x89.txt", "\xc3\xa9.TXT"}}) {  // É, é
    const std::vector<std::string> arguments = {"pack",
                                                "--stub",
                                                wine::WindowsPath(READER_EXE),
                                                "--file",
                                                std::string(":") + first + "=" + data,
                                                "--file",
                                                std::string(":") + second + "=" + data,
                                                "--output",
                                                wine::WindowsPath(root() / "out.exe")};
    const ToolRun packed = WindowsTool(arguments);
    EXPECT_EQ(packed.exit_code, 2) << first;
    EXPECT_NE(packed.errors.find("the name is given twice"), std::string::npos) << packed.errors;
    EXPECT_FALSE(fs::exists(root() / "out.exe"));
  }
}

}  // namespace
