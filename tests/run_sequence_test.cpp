// The top of the run: exceptions become the "Unhandled Exception" message.
// The run as a whole is exercised end to end in e2e/.
#include "run_sequence.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "test_support.h"

using namespace reader;

namespace {

TEST(ReportUnhandledExceptionsTest, PassesTheBodysExitCodeThrough) {
  test::MessageCapture messages;
  EXPECT_EQ(ReportUnhandledExceptions([] { return 1; }), 1);
  EXPECT_EQ(messages.Take(), "");
}

TEST(ReportUnhandledExceptionsTest, CaptionsTheMessageWithTheExceptionsDescription) {
  test::MessageCapture messages;
  EXPECT_EQ(ReportUnhandledExceptions([]() -> int { throw std::length_error("basic_string"); }), 0);
  EXPECT_EQ(ReportUnhandledExceptions([]() -> int { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(messages.Take(),
            "basic_string: Unhandled Exception\nstd::bad_alloc: Unhandled Exception\n");
}

TEST(ReportUnhandledExceptionsTest, OtherExceptionsHaveNoContext) {
  test::MessageCapture messages;
  EXPECT_EQ(ReportUnhandledExceptions([]() -> int { throw 42; }), 0);
  EXPECT_EQ(messages.Take(), "No context available: Unhandled Exception\n");
}

}  // namespace
