#include "reader_run_fixture.h"

#include <signal.h>

namespace test {

void ReaderRunFixture::SetUp() {
  std::filesystem::create_directory(temp_);
  std::filesystem::create_directory(record_);
}

void ReaderRunFixture::WriteInstaller(const std::string& bytes) {
  WriteExecutable(installer_, bytes);
}

LaunchOptions ReaderRunFixture::Options() const {
  LaunchOptions options;
  options.set_environment = {{"TMPDIR", temp_.string()}, {"SETUP_RECORD", record_.string()}};
  options.unset_environment = {"SETUP_RELEASE"};
  return options;
}

ProgramResult ReaderRunFixture::Run(const LaunchOptions& options) {
  ProgramResult result = RunningProgram(installer_.string(), options).Wait(time_limit_seconds_);
  EXPECT_NE(result.signal, SIGKILL) << "the reader did not end in time";
  return result;
}

}  // namespace test
