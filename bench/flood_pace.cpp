// Benchmark instrument (prints figures, judges nothing): a device that
// floods the program with queries at 9600 8O1's pace and takes the answers
// no faster than that line carries them, as a real UART would.
//
// It makes a pty, points LINK at it, identifies (D4 until 98 02 22 comes),
// then sends CC for SECONDS and keeps reading until every query is answered,
// the answers stop for DRAIN seconds, or the program closes its port. It
// prints what was sent and answered, the answers each second, and the
// longest gap between two answers. "flood begins" is printed as it begins.
//   flood_pace LINK SECONDS [DRAIN]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// 9600 baud, 11 bits a byte with start, parity and stop bits.
const double BYTES_PER_SECOND = 9600.0 / 11;

volatile sig_atomic_t stopRequested = 0;
std::string linkPath;

void fail(const char *what) {
  std::fprintf(stderr, "flood_pace: %s: %s\n", what, std::strerror(errno));
  if (!linkPath.empty()) unlink(linkPath.c_str());
  std::exit(2);
}

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// What came back, split into messages by their headers.
struct Answers {
  int pending = 0;  // data bytes still to come for the current message
  uint8_t header = 0;
  long queryAnswers = 0, identities = 0, others = 0;
  std::vector<double> times;  // each query answer's arrival, seconds since the flood began

  void take(uint8_t byte, double at) {
    if (pending > 0) {
      if (--pending > 0) return;
      if ((header & 0xFC) == 0x88) {
        queryAnswers++;
        times.push_back(at);
      } else if (header == 0x98) {
        identities++;
      } else {
        others++;
      }
      return;
    }
    header = byte;
    if (byte & 0x40)
      others++;
    else
      pending = 2;
  }
};

// Reads what the line has carried by now, at most its pace since `paceStart`.
// False once the program has closed its port.
bool readPaced(int master, Clock::time_point paceStart, long *taken, Answers *answers,
               Clock::time_point floodStart) {
  long due = (long)(secondsSince(paceStart) * BYTES_PER_SECOND) - *taken;
  if (due <= 0) return true;
  uint8_t buffer[4096];
  ssize_t got = read(master, buffer, (size_t)std::min<long>(due, sizeof buffer));
  if (got < 0 && errno == EIO) return false;  // no program holds the port any more
  if (got < 0 && errno != EAGAIN && errno != EINTR) fail("read");
  for (ssize_t i = 0; i < got; i++) answers->take(buffer[i], secondsSince(floodStart));
  if (got > 0) *taken += got;
  return true;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: flood_pace LINK SECONDS [DRAIN-SECONDS]\n");
    return 2;
  }
  linkPath = argv[1];
  double floodSeconds = std::atof(argv[2]);
  double drainSeconds = argc > 3 ? std::atof(argv[3]) : 10;
  signal(SIGTERM, [](int) { stopRequested = 1; });
  signal(SIGINT, [](int) { stopRequested = 1; });

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) fail("posix_openpt");
  std::string slavePath = ptsname(master);
  // Held open until the program answers, so that the line exists for the
  // program to open; then let go, so that its close shows as EIO.
  int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) fail("open the pty");
  termios tio;
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  unlink(linkPath.c_str());
  if (symlink(slavePath.c_str(), linkPath.c_str()) != 0) fail("symlink");

  // Identify: the program answers only once its notice has closed.
  Answers answers;
  auto start = Clock::now();
  long taken = 0;
  const uint8_t identify = 0xD4;
  double nextIdentify = 0;
  while (answers.identities == 0 && !stopRequested) {
    if (secondsSince(start) >= nextIdentify) {
      if (write(master, &identify, 1) != 1 && errno != EAGAIN) fail("write");
      nextIdentify += 0.5;
    }
    readPaced(master, start, &taken, &answers, start);
    usleep(2000);
  }
  close(slave);
  usleep(300000);  // surplus identities from the wait
  readPaced(master, start, &taken, &answers, start);
  answers = Answers();

  // The flood, paced both ways.
  std::printf("flood begins\n");
  std::fflush(stdout);
  auto floodStart = Clock::now();
  start = floodStart;  // the line's pace starts over: nothing carried meanwhile counts
  taken = 0;
  long sent = 0;
  bool programThere = true;
  std::vector<uint8_t> queries(4096, 0xCC);
  while (programThere && !stopRequested && secondsSince(floodStart) < floodSeconds) {
    long due = (long)(secondsSince(floodStart) * BYTES_PER_SECOND) - sent;
    if (due > 0) {
      ssize_t put = write(master, queries.data(), (size_t)std::min<long>(due, 4096));
      if (put > 0) sent += put;  // a full pty holds the rest back, as a device waits
    }
    programThere = readPaced(master, start, &taken, &answers, floodStart);
    usleep(1000);
  }
  double floodEnded = secondsSince(floodStart);

  // Until every query is answered, the answers stop, or the program goes.
  double lastAnswer = floodEnded;
  long seen = answers.queryAnswers;
  while (programThere && !stopRequested && answers.queryAnswers < sent) {
    programThere = readPaced(master, start, &taken, &answers, floodStart);
    if (answers.queryAnswers != seen) {
      seen = answers.queryAnswers;
      lastAnswer = secondsSince(floodStart);
    }
    if (secondsSince(floodStart) - lastAnswer > drainSeconds) break;
    usleep(1000);
  }
  double ended = secondsSince(floodStart);
  unlink(linkPath.c_str());

  double longestGap = 0, gapAt = 0;
  for (size_t i = 1; i < answers.times.size(); i++)
    if (answers.times[i] - answers.times[i - 1] > longestGap) {
      longestGap = answers.times[i] - answers.times[i - 1];
      gapAt = answers.times[i - 1];
    }
  std::vector<long> perSecond((size_t)ended + 1, 0);
  for (double t : answers.times) perSecond[(size_t)t]++;

  std::printf("flood: %ld queries sent in %.1f s (%.0f a second)\n", sent, floodEnded,
              sent / floodEnded);
  std::printf("answered: %ld of %ld%s, the last %.1f s after the flood began\n",
              answers.queryAnswers, sent,
              !programThere                  ? " (the program closed its port)"
              : answers.queryAnswers == sent ? " (all)"
                                             : " (the answers stopped)",
              answers.times.empty() ? 0.0 : answers.times.back());
  std::printf("answers a second: %.0f over the flood, at most %ld in one second\n",
              std::count_if(answers.times.begin(), answers.times.end(),
                            [&](double t) { return t < floodEnded; }) /
                  floodEnded,
              *std::max_element(perSecond.begin(), perSecond.end()));
  std::printf("longest gap between answers: %.1f ms, %.1f s into the flood\n", longestGap * 1000,
              gapAt);
  std::printf("answers each second:");
  for (long n : perSecond) std::printf(" %ld", n);
  std::printf("\n");
  return 0;
}
