// The line's pace (11 bits a byte at 9600 baud), the relay's outlet that
// never waits (held bytes, dropped bytes), and the output of a tool whose
// output is its result, which waits for its reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "line_pace.h"
#include "line_sink.h"
#include "outlet.h"

namespace {

using device::LINE_BYTE_MS;
using device::LinePace;
using device::Outlet;

TEST(LinePaceTest, OneByteEveryElevenBitTimes) {
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

TEST(LinePaceTest, AnIdleLineSavesNoTimeABusyOneLosesNone) {
  LinePace idle, busy;
  idle.waiting(0);
  idle.taken(idle.crossed(10, 2), 0);  // two bytes, then idle
  idle.waiting(1000);
  EXPECT_EQ(idle.crossed(1000.5, 5), 0u) << "a new byte takes its own time";
  EXPECT_EQ(idle.crossed(1000 + 2.5 * LINE_BYTE_MS, 5), 2u);
  busy.waiting(0);
  busy.taken(busy.crossed(1.2, 4), 3);  // one crossed, three wait
  busy.waiting(50);                     // the line is not idle: no new start
  EXPECT_EQ(busy.crossed(3 * LINE_BYTE_MS + 0.01, 3), 2u);
}

TEST(OutletTest, WritesWhatTheSideTakesHoldsSomeAndDropsTheRest) {
  int pipe[2];  // a side that takes 4096 bytes, then stops reading
  ASSERT_EQ(pipe2(pipe, O_NONBLOCK), 0);
  fcntl(pipe[1], F_SETPIPE_SZ, 4096);
  Outlet outlet(1000, false);
  outlet.setFd(pipe[1]);
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
  uint8_t buffer[65536];
  while (read(pipe[0], buffer, sizeof buffer) > 0 || outlet.held() > 0) outlet.flush(3);
  EXPECT_EQ(outlet.change(), Outlet::TAKING);
  EXPECT_EQ(outlet.dropped(), 2500) << "held bytes all went in the end";
  close(pipe[0]), close(pipe[1]);
}

TEST(LineSinkTest, AWaitingSinkLosesNoLineToALateReader) {
  int pipe[2];
  ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
  size_t got = 0;
  std::thread late([&] {  // comes back from a pause after the sink has filled
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    char buffer[65536];
    for (ssize_t n; (n = read(pipe[0], buffer, sizeof buffer)) > 0;) got += (size_t)n;
  });
  {
    device::LineSink sink(pipe[1], true, true);  // closes the pipe when done: the reader's end
    for (int i = 0; i < 40000; i++) sink.line(std::string(39, 'x'));  // 1.6 MB: more than it holds
  }
  late.join();
  close(pipe[0]);
  EXPECT_EQ(got, 40000u * 40);
}

}  // namespace
