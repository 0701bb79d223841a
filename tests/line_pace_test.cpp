// The line's pace (11 bits a byte at 9600 baud), and the relay's outlet that
// never waits: held bytes, dropped bytes, and pacing, with the times given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "line_pace.h"
#include "outlet.h"

namespace {

using device::LINE_BYTE_MS;
using device::LinePace;
using device::Outlet;

TEST(LinePaceTest, OneByteEveryElevenBitTimes) {
  EXPECT_NEAR(LINE_BYTE_MS, 1.1458, 0.0001);
  struct Row {
    const char *what;
    double waitingMs, askedMs;
    size_t count, crossed;
  };
  const Row rows[] = {
      {"not before a byte's time", 100, 100 + LINE_BYTE_MS * 0.99, 10, 0},
      {"one byte-time", 100, 100 + LINE_BYTE_MS * 1.01, 10, 1},
      {"ten byte-times", 100, 100 + LINE_BYTE_MS * 10.01, 10, 10},
      {"no more than are waiting", 100, 200, 3, 3},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    LinePace pace;
    pace.waiting(row.waitingMs);
    EXPECT_EQ(pace.crossed(row.askedMs, row.count), row.crossed);
  }
}

TEST(LinePaceTest, AnIdleLineSavesNoTime) {
  LinePace pace;
  pace.waiting(0);
  pace.taken(pace.crossed(10, 2), 0);  // two bytes, then idle
  pace.waiting(1000);
  EXPECT_EQ(pace.crossed(1000.5, 5), 0u) << "a new byte takes its own time";
  EXPECT_EQ(pace.crossed(1000 + 2.5 * LINE_BYTE_MS, 5), 2u);
}

TEST(LinePaceTest, ABusyLineSendsTheNextAsTheLastEnds) {
  LinePace pace;
  pace.waiting(0);
  pace.taken(pace.crossed(1.2, 4), 3);  // one crossed, three wait
  pace.waiting(50);                     // the line is not idle: no new start
  EXPECT_EQ(pace.crossed(3 * LINE_BYTE_MS + 0.01, 3), 2u);
}

// A pipe that takes at most a page: a side that stops reading.
struct SmallPipe {
  int fds[2];
  SmallPipe() {
    EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
  }
  ~SmallPipe() {
    close(fds[0]);
    close(fds[1]);
  }
  size_t drain() {
    uint8_t buffer[65536];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    return n > 0 ? (size_t)n : 0;
  }
};

TEST(OutletTest, WritesWhatTheSideTakesHoldsSomeAndDropsTheRest) {
  SmallPipe pipe;  // takes 4096 bytes
  Outlet outlet(1000, false);
  outlet.setFd(pipe.fds[1]);
  EXPECT_EQ(outlet.push(std::vector<uint8_t>(3000, 0x41), 0), 3000u)
      << "more than the hold limit, but the side takes them";
  EXPECT_EQ(outlet.change(), Outlet::NONE);
  // A pipe takes a write this size whole or not at all: none goes now.
  EXPECT_EQ(outlet.push(std::vector<uint8_t>(3000, 0x42), 1), 1000u)
      << "1000 held, the newest 2000 dropped";
  EXPECT_EQ(outlet.change(), Outlet::STOPPED);
  for (int i = 0; i < 5; i++) outlet.push(std::vector<uint8_t>(100, 0x43), 2);
  EXPECT_EQ(outlet.change(), Outlet::NONE) << "said once";
  EXPECT_EQ(outlet.held(), 1000u);
  EXPECT_TRUE(outlet.waitsForRoom());
  EXPECT_EQ(outlet.dropped(), 2500);
  while (pipe.drain() > 0 || outlet.held() > 0) outlet.flush(3);
  EXPECT_EQ(outlet.change(), Outlet::TAKING);
  EXPECT_EQ(outlet.dropped(), 2500) << "held bytes all went in the end";
}

TEST(OutletTest, PacedBytesLeaveAtTheLinesPace) {
  SmallPipe pipe;
  Outlet outlet(100, true);
  outlet.setFd(pipe.fds[1]);
  outlet.push(std::vector<uint8_t>(10, 0x41), 0);
  outlet.flush(LINE_BYTE_MS * 3.5);
  EXPECT_EQ(pipe.drain(), 3u);
  EXPECT_NEAR(outlet.nextMs(), LINE_BYTE_MS * 4, 1e-9);
  outlet.flush(LINE_BYTE_MS * 20);
  EXPECT_EQ(pipe.drain(), 7u);
  EXPECT_LT(outlet.nextMs(), 0) << "nothing left to wait for";
}

TEST(OutletTest, NobodyThereKeepsTheBytesUntilDiscarded) {
  Outlet outlet(100, false);
  outlet.push({1, 2, 3}, 0);
  EXPECT_TRUE(outlet.flush(0));
  EXPECT_EQ(outlet.discard(), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(outlet.held(), 0u);
}

}  // namespace
