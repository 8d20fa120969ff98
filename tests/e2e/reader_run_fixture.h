// The set-up shared by the tests that run whole installers on the built
// reader (tests/e2e and tests/hostile): a scratch directory holding the
// installer, a private TMPDIR for the reader's work directories, and the
// directory where the recording setup program (recording_setup.h) notes what
// it got.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "process_runner.h"
#include "test_support.h"

namespace test {

class ReaderRunFixture : public testing::Test {
 protected:
  // Every run may take up to `time_limit_seconds`: one still running then is
  // killed, and the test fails.
  explicit ReaderRunFixture(int time_limit_seconds) : time_limit_seconds_(time_limit_seconds) {}

  // Makes the temporary directory and the record directory.
  void SetUp() override;

  // Writes `bytes` as the installer, a program anyone may run.
  void WriteInstaller(const std::string& bytes);

  // What every run starts from: TMPDIR is temp_, SETUP_RECORD is record_,
  // and SETUP_RELEASE is unset, so that the setup program waits only where a
  // test asks it to.
  virtual LaunchOptions Options() const;

  // Runs the installer with `options` (or Options()) until it ends.
  ProgramResult Run(const LaunchOptions& options);
  ProgramResult Run() { return Run(Options()); }

  ScratchDirectory scratch_;
  std::filesystem::path temp_ = scratch_.path() / "tmp";
  std::filesystem::path record_ = scratch_.path() / "record";
  std::filesystem::path installer_ = scratch_.path() / "installer";

 private:
  int time_limit_seconds_;
};

}  // namespace test
