// The reader program's handling of the standard library's failures (it is
// built without exceptions): each ends the process with the "Unhandled
// Exception" message, captioned with the exception's description, and exit
// code 0. Run in a stand-in program that links the same handling.
#include <gtest/gtest.h>

#include "process_runner.h"
#include "test_support.h"

namespace {

TEST(RuntimeFailureTest, EndsTheProgramWithTheUnhandledExceptionMessage) {
  const struct {
    const char* failure;
    const char* errors;
  } cases[] = {
      {"memory", "std::bad_alloc: Unhandled Exception\n"},
      {"length", "basic_string::_M_create: Unhandled Exception\n"},
      {"position",
       "basic_string::substr: __pos (which is 5) > this->size() (which is 3): Unhandled "
       "Exception\n"},
  };
  test::ScratchDirectory scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failure);
    test::LaunchOptions options;
    options.arguments = {c.failure};
    // Under AddressSanitizer too, a request no process can have fails, and
    // the sanitizer's warning about it goes to a file of its own.
    options.set_environment["ASAN_OPTIONS"] =
        "allocator_may_return_null=1:log_path=" + (scratch.path() / "asan").string();
    const test::ProgramResult result = test::RunProgram(RUNTIME_FAILURE_PROBE_PATH, options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.errors, c.errors);
  }
}

}  // namespace
