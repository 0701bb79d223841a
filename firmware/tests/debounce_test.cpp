// Debouncing: rows of one button's samples, one a millisecond, and the
// presses they make.
#include <gtest/gtest.h>

#include <string>

#include "debounce.h"

namespace {

// Samples, one a millisecond: "d" down, "u" up; a digit before a letter
// repeats it that many tens of times ("2d": twenty samples down). Returns
// the numbers of the samples, from 1, that made a press.
std::string pressesOf(const std::string &samples) {
  debounce d = {};
  std::string presses;
  int sample = 0, repeat = 1;
  for (char c : samples) {
    if (c >= '1' && c <= '9') {
      repeat = (c - '0') * 10;
      continue;
    }
    for (; repeat > 0; repeat--) {
      sample++;
      if (debounce_sample(&d, 0, c == 'd'))
        presses += (presses.empty() ? "" : " ") + std::to_string(sample);
    }
    repeat = 1;
  }
  return presses;
}

TEST(DebounceTest, PressesComeAfterTwentySteadySamples) {
  struct Row {
    const char *what, *samples, *presses;
  } rows[] = {
      {"held 20 ms", "2d", "20"},
      {"held 19 ms", "1dddddddddd2u", ""},
      {"a bounce every 5 ms", "ddddduuuuuddddduuuuuddddd2u", ""},
      {"bounces, then held", "ddduudduu2d", "29"},
      {"a 5 ms drop while held makes no second press", "2duuuuu2d", "20"},
      {"released and pressed again", "2d2u2d", "20 60"},
  };
  for (const Row &r : rows) EXPECT_EQ(pressesOf(r.samples), r.presses) << r.what;
}

}  // namespace
