// The progress display's rule: when it is due and what it shows, with the
// clock given by the test.
#include "extraction_progress.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace reader;

namespace {

struct Step {
  int64_t processed_bytes;
  int64_t now;
  std::optional<int> due;
};

void ExpectSchedule(ProgressSchedule schedule, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    EXPECT_EQ(schedule.Due(step.processed_bytes, step.now), step.due)
        << step.processed_bytes << " bytes at " << step.now << " ms";
  }
}

TEST(ProgressScheduleTest, ShowsAfterOneSecondThenAtMostFourTimesASecondWhenTheNumberChanges) {
  const std::vector<Step> steps = {
      {0, 5000, std::nullopt},   {500, 5999, std::nullopt},  // not yet
      {500, 6000, 50},                                       // a second in
      {510, 6100, std::nullopt}, {600, 6249, std::nullopt},  // too soon
      {600, 6250, 60},                                       // a quarter second on
      {609, 6600, std::nullopt},                             // still 60%
      {610, 6601, 61},           {1000, 6700, std::nullopt}, {1000, 6851, 100},
  };
  ExpectSchedule(ProgressSchedule(1000, 5000), steps);
}

TEST(ProgressScheduleTest, PercentagesStayWithinTheirRangeForAnySize) {
  constexpr int64_t kSixGiB = int64_t{6} << 30;
  const std::vector<Step> steps = {
      {-20, 1000, 0},
      {kSixGiB / 2 + 1, 1250, 50},
      {kSixGiB - 1, 1500, 99},
      {kSixGiB + 10, 1750, 100},
  };
  ExpectSchedule(ProgressSchedule(kSixGiB, 0), steps);
  // An envelope whose size could not be had counts as done.
  ExpectSchedule(ProgressSchedule(-1, 0), {{0, 1000, 0}, {5, 1250, 100}});
}

}  // namespace
