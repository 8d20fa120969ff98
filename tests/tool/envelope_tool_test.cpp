// The envelope program end to end: pack, list, verify and extract generated
// installers, and run what it packs with the built reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "envelope_writer.h"
#include "installers.h"
#include "process_runner.h"
#include "recording_setup.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr size_t kChunk = 1024 * 1024;  // the tool's copy size

using test::kRecordingSetup;

class EnvelopeToolTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root() / "inputs");
    test::WriteFile(root() / "inputs/setup.sh", kRecordingSetup);
    // Sizes around the copy chunk, and empty.
    const size_t sizes[] = {0, 1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 17};
    for (size_t i = 0; i < std::size(sizes); ++i) {
      const std::string name = "data" + std::to_string(i) + ".bin";
      data_[name] = test::RandomBytes(sizes[i], static_cast<unsigned>(i));
      test::WriteFile(root() / "inputs" / name, data_[name]);
    }
    std::string manifest = R"(stub_name = "Reader.exe"
[[file]]
key = "installer"
name = "Setup.exe"
source = "inputs/setup.sh"
)";
    for (const auto& [name, bytes] : data_) {
      manifest += "[[file]]\nname = \"" + name + "\"\nsource = \"inputs/" + name + "\"\n";
    }
    manifest += R"([[value]]
key = "executable"
text = "%installer%"
[[value]]
key = "parameters"
text = '/V"/l*v install.txt %msi_parameters%" [%source%]'
[[value]]
key = "msi_parameters"
text = 'ALLUSERS=2 USER_SOURCE_DIRECTORY=\"%source%\\\"'
)";
    test::WriteFile(manifest_path(), manifest);
  }

  const fs::path& root() const { return scratch_.path(); }
  fs::path manifest_path() const { return root() / "installer.toml"; }

  test::ProgramResult Envelope(std::vector<std::string> arguments) {
    test::LaunchOptions options;
    options.arguments = std::move(arguments);
    return test::RunProgram(ENVELOPE_PATH, options);
  }

  // Packs the manifest (and `more` arguments) onto the reader as `output`.
  test::ProgramResult Pack(const fs::path& output, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {
        "pack",     "--stub",       READER_PATH, "--manifest", manifest_path().string(),
        "--output", output.string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Envelope(arguments);
  }

  test::ScratchDirectory scratch_;
  std::map<std::string, std::string> data_;
};

TEST_F(EnvelopeToolTest, PackedInstallersListVerifyExtractAndRun) {
  const fs::path installer = root() / "installer";
  const test::ProgramResult packed = Pack(installer, {"--compression", "none"});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;
  EXPECT_EQ(packed.errors, "");
  EXPECT_EQ(fs::status(installer).permissions(), fs::status(READER_PATH).permissions());

  const test::ProgramResult verified = Envelope({"verify", installer.string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.errors;
  EXPECT_NE(verified.output.find("12 groups, every digest matches"), std::string::npos);

  // The groups in reading order, each with its size and digest state, and the
  // command line the reader would start.
  const test::ProgramResult listed = Envelope({"list", "--json", installer.string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  const json document = json::parse(listed.output);
  EXPECT_TRUE(document["valid"].get<bool>());
  std::vector<std::string> seen;
  for (const json& group : document["groups"]) {
    EXPECT_TRUE(group["digests_match"].get<bool>());
    const std::string type = group["type"];
    seen.push_back(type == "tail" ? "tail"
                                  : type + ":" + group.value("name", group.value("key", "")));
    if (type == "file" && group["name"] != "Setup.exe") {
      EXPECT_EQ(group["size"], data_[group["name"]].size());
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "tail", "value:msi_parameters", "value:parameters", "value:executable",
                      "file:data5.bin", "file:data4.bin", "file:data3.bin", "file:data2.bin",
                      "file:data1.bin", "file:data0.bin", "file:Setup.exe", "stub:Reader.exe"}));
  EXPECT_EQ(document["command_line"]["executable"], "<work>/Setup.exe");
  EXPECT_EQ(document["command_line"]["parameters"],
            R"(/V"/l*v install.txt ALLUSERS=2 USER_SOURCE_DIRECTORY=\"<work>\\\"" [<work>])");
  EXPECT_EQ(document["command_line"]["arguments"],
            json::array(
                {R"(/V/l*v install.txt ALLUSERS=2 USER_SOURCE_DIRECTORY="<work>\")", "[<work>]"}));
  const test::ProgramResult text = Envelope({"list", installer.string()});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_NE(text.output.find("executable: \"<work>/Setup.exe\""), std::string::npos) << text.output;

  // Extracted byte for byte, and the values printed.
  const test::ProgramResult extracted =
      Envelope({"extract", installer.string(), "--to", (root() / "out").string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.errors;
  for (const auto& [name, bytes] : data_) {
    EXPECT_EQ(test::ReadFile(root() / "out" / name), bytes) << name;
  }
  EXPECT_EQ(test::ReadFile(root() / "out/Setup.exe"), kRecordingSetup);
  EXPECT_NE(extracted.output.find("\nexecutable=%installer%\n"), std::string::npos);
  // A second extraction into the same place would overwrite: refused.
  EXPECT_EQ(Envelope({"extract", installer.string(), "--to", (root() / "out").string()}).exit_code,
            2);

  // The reader runs it as packed.
  fs::create_directories(root() / "temp");
  fs::create_directories(root() / "record");
  test::LaunchOptions options;
  options.set_environment = {{"TMPDIR", (root() / "temp").string()},
                             {"SETUP_RECORD", (root() / "record").string()}};
  const test::ProgramResult run = test::RunProgram(installer.string(), options);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(test::ReadFile(root() / "record/argc"), "2\n");
  EXPECT_EQ(test::ReadFile(root() / "record/arg0")
                .rfind("/V/l*v install.txt ALLUSERS=2 USER_SOURCE_DIRECTORY=\"", 0),
            0u);
  for (const auto& [name, bytes] : data_) {
    EXPECT_EQ(test::ReadFile(root() / "record/files" / name), bytes) << name;
  }
  EXPECT_TRUE(test::EntryNames(root() / "temp").empty());
}

TEST_F(EnvelopeToolTest, TheSameInputsGiveTheSameBytesFromManifestOrFlags) {
  ASSERT_EQ(Pack(root() / "first").exit_code, 0);
  ASSERT_EQ(Pack(root() / "second").exit_code, 0);
  const std::string first = test::ReadFile(root() / "first");
  EXPECT_EQ(first, test::ReadFile(root() / "second"));

  std::vector<std::string> flags = {"pack",
                                    "--stub",
                                    READER_PATH,
                                    "--stub-name",
                                    "Reader.exe",
                                    "--output",
                                    (root() / "flags").string(),
                                    "--file",
                                    "installer:Setup.exe=" + (root() / "inputs/setup.sh").string()};
  for (const auto& [name, bytes] : data_) {
    flags.insert(flags.end(), {"--file", ":" + name + "=" + (root() / "inputs" / name).string()});
  }
  flags.insert(flags.end(),
               {"--value", "executable=%installer%", "--value",
                R"(parameters=/V"/l*v install.txt %msi_parameters%" [%source%])", "--value",
                R"(msi_parameters=ALLUSERS=2 USER_SOURCE_DIRECTORY=\"%source%\\\")"});
  ASSERT_EQ(Envelope(flags).exit_code, 0);
  EXPECT_EQ(test::ReadFile(root() / "flags"), first);
}

TEST_F(EnvelopeToolTest, ExitCodesAreAskedForByFlagOrManifestAndListed) {
  ASSERT_EQ(Pack(root() / "default").exit_code, 0);
  ASSERT_EQ(Pack(root() / "flag", {"--exit-codes"}).exit_code, 0);
  const std::string manifest = test::ReadFile(manifest_path());
  test::WriteFile(manifest_path(), "exit_codes = true\n" + manifest);
  ASSERT_EQ(Pack(root() / "manifest").exit_code, 0);
  EXPECT_EQ(test::ReadFile(root() / "flag"), test::ReadFile(root() / "manifest"));

  const test::ProgramResult listed = Envelope({"list", (root() / "flag").string()});
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_NE(listed.output.find("option \"exit-codes\""), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("exit codes: the setup program's own"), std::string::npos);
  EXPECT_NE(Envelope({"list", (root() / "default").string()})
                .output.find("exit codes: 0 after the launch"),
            std::string::npos);
  const json document =
      json::parse(Envelope({"list", "--json", (root() / "flag").string()}).output);
  EXPECT_EQ(document["options"]["exit_codes"], true);
  EXPECT_EQ(document["groups"][1]["type"], "option");
  EXPECT_EQ(document["groups"][1]["key"], "exit-codes");
  EXPECT_EQ(Envelope({"verify", (root() / "flag").string()}).exit_code, 0);

  test::WriteFile(manifest_path(), "exit_codes = \"yes\"\n" + manifest);
  const test::ProgramResult refused = Pack(root() / "refused");
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.errors.find("exit_codes must be true or false"), std::string::npos)
      << refused.errors;
}

TEST_F(EnvelopeToolTest, RefusedInputsWriteNothingAndSayWhyInOneLine) {
  fs::create_directory(root() / "inputs/a-directory");
  ASSERT_EQ(mkfifo((root() / "inputs/a-pipe").c_str(), 0600), 0);  // opening it would block
  // A sparse file of exactly 4 GiB takes no space.
  test::WriteFile(root() / "inputs/huge", "");
  fs::resize_file(root() / "inputs/huge", 4ull << 30);
  test::WriteFile(root() / "installer", "the previous build");
  ASSERT_EQ(Pack(root() / "packed").exit_code, 0);

  const std::string setup = (root() / "inputs/setup.sh").string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--value", "installer=x"}, "the key \"installer\" is given twice"},
      {{"--value", "commandline=x"}, "is set by the reader itself"},
      {{"--value", "=x"}, "a value has an empty key"},
      {{"--file", ":../Setup.exe=" + setup}, "the name leaves the work directory"},
      {{"--file", ":/tmp/x=" + setup}, "the name leaves the work directory"},
      {{"--file", ":SETUP.EXE=" + setup}, "the name is given twice"},
      {{"--file", ":missing.bin=" + (root() / "inputs/missing").string()},
       "No such file or directory"},
      {{"--file", ":dir.bin=" + (root() / "inputs/a-directory").string()}, "is not a regular file"},
      {{"--file", ":pipe.bin=" + (root() / "inputs/a-pipe").string()}, "is not a regular file"},
      {{"--file", ":huge.bin=" + (root() / "inputs/huge").string()}, "is 4 GiB or larger"},
      {{"--file", "bad-flag"}, "expected KEY:NAME=PATH"},
      {{"--file", ":caf\xE9.ini=" + setup}, "the name is not valid UTF-8"},
      {{"--value", "greeting=caf\xE9"}, "the text is not valid UTF-8"},
  };
  const std::set<std::string> before = test::EntryNames(root());
  for (const auto& [more, reason] : cases) {
    const test::ProgramResult result = Pack(root() / "installer", more);
    EXPECT_EQ(result.exit_code, 2) << reason;
    EXPECT_EQ(result.errors.rfind("envelope: error: ", 0), 0u) << result.errors;
    EXPECT_NE(result.errors.find(reason), std::string::npos) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
  }
  // An installer as the stub: its envelope would be buried inside the new one.
  const test::ProgramResult restub =
      Envelope({"pack", "--stub", (root() / "packed").string(), "--value", "a=b", "--output",
                (root() / "installer").string()});
  EXPECT_EQ(restub.exit_code, 2);
  EXPECT_NE(restub.errors.find("already holds an envelope"), std::string::npos) << restub.errors;

  EXPECT_EQ(test::EntryNames(root()), before);  // no partial files
  EXPECT_EQ(test::ReadFile(root() / "installer"), "the previous build");
}

// Standard output holds only listings and JSON: a command that fails leaves
// a redirected output empty and says why on standard error.
TEST_F(EnvelopeToolTest, FailuresGoToStandardErrorAndLeaveStandardOutputEmpty) {
  test::WriteFile(root() / "notaninstaller", "some bytes, but no envelope");
  const std::string file = (root() / "notaninstaller").string();
  const std::string missing = (root() / "missing").string();
  const std::string out = (root() / "out").string();
  const std::vector<std::string> cases[] = {
      {"list", file},
      {"list", "--json", file},
      {"verify", file},
      {"extract", file, "--to", out},
      {"list", missing},
      {"list", "--json", missing},
      {"verify", missing},
      {"extract", missing, "--to", out},
      {"pack", "--stub", missing, "--value", "a=b", "--output", out},
      {"pack", "--stub", READER_PATH, "--manifest", missing, "--output", out},
      {"list"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    std::string command;
    for (const std::string& argument : arguments) command += " " + argument;
    const test::ProgramResult result = Envelope(arguments);
    EXPECT_NE(result.exit_code, 0) << command;
    EXPECT_EQ(result.output, "") << command;
    EXPECT_NE(result.errors, "") << command;
  }
  EXPECT_FALSE(fs::exists(root() / "out"));

  // A damaged installer is still listed, its damage named on standard error.
  const fs::path installer = root() / "installer";
  ASSERT_EQ(Pack(installer).exit_code, 0);
  std::string bytes = test::ReadFile(installer);
  bytes[bytes.find("USER_SOURCE_DIRECTORY")] ^= 0x20;
  test::WriteFile(installer, bytes);
  const test::ProgramResult listed = Envelope({"list", installer.string()});
  EXPECT_EQ(listed.exit_code, 1);
  EXPECT_NE(listed.output.find("BAD value"), std::string::npos) << listed.output;
  EXPECT_EQ(listed.errors, "envelope: \"" + installer.string() + "\"" +
                               ": group 2 (value key \"msi_parameters\"): the digest of its value "
                               "record does not match\n");
}

TEST_F(EnvelopeToolTest, VerifyNamesTheGroupWhoseRecordWasDamaged) {
  const fs::path installer = root() / "installer";
  ASSERT_EQ(Pack(installer, {"--compression", "none"}).exit_code, 0);
  const std::string good = test::ReadFile(installer);

  // Damages one byte of the first occurrence of `payload` after the reader.
  auto damaged = [&](const std::string& payload, size_t within) {
    std::string bytes = good;
    const size_t at = bytes.find(payload, fs::file_size(READER_PATH));
    EXPECT_NE(at, std::string::npos) << payload;
    bytes[at + within] ^= 0x20;
    return bytes;
  };
  const std::pair<std::string, std::string> cases[] = {
      {damaged(data_["data4.bin"], kChunk),
       "group 6 (file key \"\" name \"data4.bin\"): the digest of its contents record"},
      {damaged("USER_SOURCE_DIRECTORY", 0),
       "group 2 (value key \"msi_parameters\"): the digest of its value record"},
      {damaged("executable", 0),
       "group 4 (value key \"Executable\"): the digest of its key record"},
      {damaged("Setup.exe", 0),
       "group 11 (file key \"installer\" name \"setup.exe\"): the digest of its name record"},
      {damaged("Reader.exe", 1),
       "group 12 (stub key \"stub\" name \"REader.exe\"): the digest of its name record"},
  };
  for (const auto& [bytes, message] : cases) {
    test::WriteFile(installer, bytes);
    const test::ProgramResult verified = Envelope({"verify", installer.string()});
    EXPECT_EQ(verified.exit_code, 1);
    EXPECT_NE(verified.errors.find(message), std::string::npos) << verified.errors;
    EXPECT_EQ(Envelope({"list", installer.string()}).exit_code, 1);
    const test::ProgramResult extracted =
        Envelope({"extract", installer.string(), "--to", (root() / "out").string()});
    EXPECT_EQ(extracted.exit_code, 1);
    EXPECT_FALSE(fs::exists(root() / "out"));
  }

  // Cut short: through the tail record's digest, or through its marker.
  test::WriteFile(installer, good.substr(0, good.size() - 1));
  const test::ProgramResult cut = Envelope({"verify", installer.string()});
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_NE(cut.errors.find("the type record ending at offset " + std::to_string(good.size()) +
                            " does not fit in the file"),
            std::string::npos)
      << cut.errors;
  test::WriteFile(installer, good.substr(0, good.size() - 30));
  const test::ProgramResult no_tail = Envelope({"verify", installer.string()});
  EXPECT_EQ(no_tail.exit_code, 1);
  EXPECT_NE(no_tail.errors.find("no envelope: the tail marker is missing"), std::string::npos)
      << no_tail.errors;
  // Bytes after the tail, such as a signature, are not part of the envelope.
  test::WriteFile(installer, good + std::string(4096, '\x5a'));
  EXPECT_EQ(Envelope({"verify", installer.string()}).exit_code, 0);
}

// Names and values are shown as the Windows reader reads them: UTF-8 as it
// is, the code page 1252 of older installers as a Western system reads it,
// and characters that would reorder the line escaped.
TEST_F(EnvelopeToolTest, ListShowsTextsAsTheWindowsReaderReadsThem) {
  std::string bytes = test::Stub(READER_PATH, "Reader.exe");
  writer::AppendFileGroup(bytes, "installer", "Größe.exe", "x");
  writer::AppendFileGroup(bytes, "", "caf\xE9 \x80.ini", "y");
  writer::AppendFileGroup(bytes, "", "txt.\u202Eexe", "z");
  test::AppendLaunch(bytes, "/street=Stra\xDF-1");
  writer::AppendTail(bytes);
  const fs::path installer = root() / "installer";
  test::WriteFile(installer, bytes);

  const test::ProgramResult listed = Envelope({"list", "--json", installer.string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  const json document = json::parse(listed.output);
  std::vector<std::string> names;
  for (const json& group : document["groups"]) {
    if (group["type"] == "file") names.push_back(group["name"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"txt.\u202Eexe", "café €.ini", "Größe.exe"}));
  EXPECT_EQ(document["command_line"]["executable"], "<work>/Größe.exe");
  EXPECT_EQ(document["command_line"]["parameters"], "/street=Straß-1");

  const test::ProgramResult text = Envelope({"list", installer.string()});
  EXPECT_EQ(text.exit_code, 0);
  for (const char* shown : {"\"Größe.exe\"", "\"café €.ini\"", "\"txt.\\u202eexe\"",
                            "parameters: \"/street=Straß-1\""}) {
    EXPECT_NE(text.output.find(shown), std::string::npos) << shown << "\n" << text.output;
  }
}

// "none" packs today's "file" groups; "fast" and "best" pack "zfile" groups
// compressed as the writer compresses them, a file's own level before the
// flag's, the flag's before the manifest's.
TEST_F(EnvelopeToolTest, CompressionLevelsComeFromTheFileTheFlagOrTheManifest) {
  using writer::Compression;
  std::string notes;
  for (int line = 0; notes.size() < 3 * kChunk + 100; ++line) {
    notes += "note " + std::to_string(line) + ": nothing to report\n";
  }
  test::WriteFile(root() / "inputs/notes.txt", notes);
  const std::string& data = data_["data5.bin"];  // random bytes
  const std::string files = R"([[file]]
key = "installer"
name = "Setup.exe"
source = "inputs/setup.sh"
compression = "none"
[[file]]
name = "notes.txt"
source = "inputs/notes.txt"
[[file]]
name = "data5.bin"
source = "inputs/data5.bin"
compression = "fast"
[[value]]
key = "executable"
text = "%installer%"
)";
  const struct {
    const char* manifest;  // the top-level line
    std::vector<std::string> flag;
    std::optional<Compression> notes_level;  // nothing: packed as it is
  } cases[] = {
      {"", {}, Compression::kBest},
      {"compression = \"none\"\n", {}, std::nullopt},
      {"compression = \"fast\"\n", {}, Compression::kFast},
      {"compression = \"fast\"\n", {"--compression", "best"}, Compression::kBest},
      {"compression = \"best\"\n", {"--compression", "none"}, std::nullopt},
      {"", {"--compression", "fast"}, Compression::kFast},
  };
  for (const auto& [top, flag, notes_level] : cases) {
    test::WriteFile(manifest_path(), top + files);
    const fs::path installer = root() / "installer";
    const test::ProgramResult packed = Pack(installer, flag);
    ASSERT_EQ(packed.exit_code, 0) << top << packed.errors;

    std::string expected = test::Stub(READER_PATH, "reader");
    writer::AppendFileGroup(expected, "installer", "Setup.exe", kRecordingSetup);
    if (notes_level) {
      writer::AppendCompressedFileGroup(expected, "", "notes.txt", notes, *notes_level);
    } else {
      writer::AppendFileGroup(expected, "", "notes.txt", notes);
    }
    writer::AppendCompressedFileGroup(expected, "", "data5.bin", data, Compression::kFast);
    writer::AppendValueGroup(expected, "executable", "%installer%");
    writer::AppendTail(expected);
    EXPECT_TRUE(test::ReadFile(installer) == expected) << top;

    // Stored and original sizes, in JSON and in the table.
    const json document = json::parse(Envelope({"list", "--json", installer.string()}).output);
    std::vector<std::string> seen;
    for (const json& group : document["groups"]) {
      if (!group.contains("original_size")) continue;
      seen.push_back(group["type"].get<std::string>() + ":" + group["name"].get<std::string>() +
                     ":" + std::to_string(group["original_size"].get<uint64_t>()) +
                     (group["size"] < group["original_size"]   ? ":stored smaller"
                      : group["size"] > group["original_size"] ? ":stored larger"
                                                               : ""));
    }
    const std::string notes_seen = "notes.txt:" + std::to_string(notes.size());
    EXPECT_EQ(seen,
              (std::vector<std::string>{
                  "zfile:data5.bin:" + std::to_string(data.size()) + ":stored larger",
                  notes_level ? "zfile:" + notes_seen + ":stored smaller" : "file:" + notes_seen,
                  "file:Setup.exe:" + std::to_string(std::string_view(kRecordingSetup).size())}))
        << top;
    const std::string listed = Envelope({"list", installer.string()}).output;
    EXPECT_NE(listed.find("size     original  digests"), std::string::npos) << listed;
    EXPECT_NE(listed.find(" " + std::to_string(data.size()) + "  ok"), std::string::npos) << listed;
  }

  // An unknown level is refused, naming the ones there are.
  test::WriteFile(manifest_path(), files);
  const test::ProgramResult refused = Pack(root() / "refused", {"--compression", "max"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.errors,
            "envelope: error: --compression \"max\": expected none, fast or best\n");
}

// With compression off, pack writes the bytes it wrote before compression
// existed: the writer's "file" groups.
TEST_F(EnvelopeToolTest, CompressionNoneWritesPlainFileGroups) {
  const fs::path installer = root() / "installer";
  ASSERT_EQ(Envelope({"pack", "--stub", READER_PATH, "--stub-name", "Reader.exe", "--file",
                      "installer:Setup.exe=" + (root() / "inputs/setup.sh").string(), "--file",
                      ":data4.bin=" + (root() / "inputs/data4.bin").string(), "--file",
                      ":data0.bin=" + (root() / "inputs/data0.bin").string(), "--value",
                      "executable=%installer%", "--exit-codes", "--compression", "none", "--output",
                      installer.string()})
                .exit_code,
            0);
  std::string expected = test::Stub(READER_PATH, "Reader.exe");
  writer::AppendFileGroup(expected, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendFileGroup(expected, "", "data4.bin", data_["data4.bin"]);
  writer::AppendFileGroup(expected, "", "data0.bin", "");
  writer::AppendValueGroup(expected, "executable", "%installer%");
  writer::AppendOptionGroup(expected, "exit-codes");
  writer::AppendTail(expected);
  EXPECT_TRUE(test::ReadFile(installer) == expected);
}

}  // namespace
