// The line `envelope pack` shows on a terminal while it packs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pack_progress.h"

using namespace tool;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

TEST(PackProgress, TheLineSaysThePercentageAndTheMebibytes) {
  const struct {
    uint64_t done;
    uint64_t total;
    const char* line;
  } cases[] = {
      {0, 4 * kMiB, "packing 0% (0.0 of 4.0 MiB)"},
      {kMiB / 2, kMiB, "packing 50% (0.5 of 1.0 MiB)"},
      {kMiB - 1, kMiB, "packing 99% (1.0 of 1.0 MiB)"},  // rounded down: never 100 too soon
      {3 * kMiB, 3 * kMiB, "packing 100% (3.0 of 3.0 MiB)"},
      {5 * kMiB, 3 * kMiB, "packing 100% (3.0 of 3.0 MiB)"},
      {0, 0, "packing 100% (0.0 of 0.0 MiB)"},
      {5120 * kMiB, 10240 * kMiB, "packing 50% (5120.0 of 10240.0 MiB)"},  // beyond 32 bits
  };
  for (const auto& c : cases) EXPECT_EQ(PackProgressLine(c.done, c.total), c.line) << c.line;
}

TEST(PackProgress, ShownAfterASecondAtMostFourTimesASecondAndErasedAtTheEnd) {
  std::string terminal;
  std::atomic<int64_t> now = 10000;
  {
    PackProgress progress(
        4 * kMiB, [&](std::string_view text) { terminal += text; }, [&] { return now.load(); });
    progress.Advance(kMiB);
    now = 10999;
    progress.Advance(0);
    EXPECT_EQ(terminal, "") << "nothing before a second has passed";
    now = 11000;
    progress.Advance(0);
    EXPECT_EQ(terminal, "\rpacking 25% (1.0 of 4.0 MiB)");
    terminal.clear();
    now = 11249;
    progress.Advance(kMiB);
    EXPECT_EQ(terminal, "") << "within a quarter of a second of the last line";
    now = 11250;
    progress.Advance(0);
    EXPECT_EQ(terminal, "\rpacking 50% (2.0 of 4.0 MiB)");
    terminal.clear();
  }
  EXPECT_EQ(terminal, "\r" + std::string(28, ' ') + "\r") << "the line erased";

  terminal.clear();
  {
    PackProgress quick(
        kMiB, [&](std::string_view text) { terminal += text; }, [&] { return now.load(); });
    quick.Advance(kMiB);
  }
  EXPECT_EQ(terminal, "") << "a quick run neither shows nor erases anything";
}

TEST(PackProgress, ThreadsAdvanceTogether) {
  std::string terminal;
  std::atomic<int64_t> now = 0;
  {
    PackProgress progress(
        4 * kMiB, [&](std::string_view text) { terminal = text; }, [&] { return now.load(); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 1024; ++i) {
          progress.Advance(1024);
          now += 1;  // the clock moves on as they work
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    now += 1000;
    progress.Advance(0);
    EXPECT_EQ(terminal, "\rpacking 100% (4.0 of 4.0 MiB)");
  }
}

}  // namespace
