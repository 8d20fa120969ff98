// The top of the run: the standard library's failures become the "Unhandled
// Exception" message. The run as a whole is exercised end to end in e2e/,
// the reader program's own failure path in e2e/runtime_failure_test.cpp.
#include "run_sequence.h"

#include <gtest/gtest.h>

#include "test_support.h"

using namespace reader;

namespace {

TEST(ReportUnhandledExceptionTest, CaptionsTheMessageWithTheFailuresDescription) {
  test::MessageCapture messages;
  EXPECT_EQ(ReportUnhandledException("basic_string"), 0);
  EXPECT_EQ(ReportUnhandledException("std::bad_alloc"), 0);
  EXPECT_EQ(messages.Take(),
            "basic_string: Unhandled Exception\nstd::bad_alloc: Unhandled Exception\n");
}

TEST(ReportUnhandledExceptionTest, AFailureWithoutDescriptionHasNoContext) {
  test::MessageCapture messages;
  EXPECT_EQ(ReportUnhandledException(nullptr), 0);
  EXPECT_EQ(messages.Take(), "No context available: Unhandled Exception\n");
}

}  // namespace
