// Benchmark (prints figures, judges nothing): the device tool's memory under
// a flood at pty speed. A tap runs between two pty pairs standing in for the
// device's serial port and the program's COM port, flooded both ways, and a
// conformance run on a third pair is flooded by its device; both with a
// record. It prints each run's resident memory a few seconds in and at the
// end, its peak, the bytes that went through, and how long each took to end
// after SIGINT.
//   tool_soak TALLIVER-DEVICE [SECONDS]   (default 600)
#include <poll.h>

#include <cstdio>
#include <random>

#include "tool_process.h"

namespace {
using tool::Clock;
using tool::Tool;

void check(bool ok, const char *what) {
  if (!ok) {
    std::perror(what);
    std::exit(2);
  }
}

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long residentKb(pid_t pid, const char *field = "VmRSS:") {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE *f = std::fopen(path.c_str(), "r");
  char line[256];
  long kb = -1;
  while (f && std::fgets(line, sizeof line, f))
    if (std::sscanf(line, field[2] == 'R' ? "VmRSS: %ld" : "VmHWM: %ld", &kb) == 1) break;
  if (f) std::fclose(f);
  return kb;
}

// What a side sends, over and over: messages of its kind and bytes of any value.
std::vector<uint8_t> pattern(bool device, unsigned seed) {
  std::mt19937 r(seed);
  std::vector<uint8_t> bytes;
  while (bytes.size() < 65536) {
    int pick = (int)(r() % 10);
    if (!device && pick < 5) bytes.push_back(0xFC);
    if (device && pick < 6) bytes.insert(bytes.end(), {0x84, 0x1E, 0x41});
    if (device && pick >= 6 && pick < 8) bytes.push_back(0xCC);
    if (pick >= 8) bytes.push_back((uint8_t)r());
  }
  return bytes;
}

struct Flooded {
  int fd;
  std::vector<uint8_t> bytes;
  size_t at = 0;
  long long sent = 0, got = 0;
};

// Writes and reads every side as fast as it takes and gives, until `until`.
void flood(std::vector<Flooded> &sides, Clock::time_point until, bool write) {
  std::vector<pollfd> fds;
  for (Flooded &s : sides) fds.push_back({s.fd, (short)(POLLIN | (write ? POLLOUT : 0)), 0});
  uint8_t buffer[65536];
  while (Clock::now() < until) {
    if (poll(fds.data(), fds.size(), 50) <= 0) continue;
    for (size_t i = 0; i < sides.size(); i++) {
      Flooded &s = sides[i];
      for (ssize_t n; (fds[i].revents & POLLIN) && (n = read(s.fd, buffer, sizeof buffer)) > 0;)
        s.got += n;
      if (!(fds[i].revents & POLLOUT)) continue;
      ssize_t n =
          ::write(s.fd, s.bytes.data() + s.at, std::min<size_t>(4096, s.bytes.size() - s.at));
      if (n > 0) s.sent += n, s.at = (s.at + (size_t)n) % s.bytes.size();
    }
  }
}
}  // namespace

int main(int argc, char **argv) {
  const char *usage = "usage: tool_soak TALLIVER-DEVICE [SECONDS]  (default 600)\n";
  if (argc < 2 || argc > 3) return std::fputs(usage, stderr), 2;
  long seconds = 600;
  if (argc == 3) {
    char *end;
    seconds = std::strtol(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || seconds < 1 || seconds > 86400)
      return std::fprintf(stderr, "tool_soak: SECONDS '%s' is not from 1 to 86400\n", argv[2]), 2;
  }
  tool::executable = argv[1];
  tool::Folder folder;
  tool::DevicePort tapDevice, conformDevice;
  std::string link = folder / "com1", forever = std::to_string(seconds + 3600);
  Tool tap(folder, {"tap", "--port", tapDevice.slave, "--link", link, "--record", "/dev/null"},
           Tool::NOWHERE);
  Tool conform(
      folder,
      {"conform", "--port", conformDevice.slave, "--seconds", forever, "--record", "/dev/null"},
      Tool::NOWHERE);
  if (!tool::within(2000, [&] { return tool::exists(link); }))
    return std::fprintf(stderr, "%s: the tap did not start\n%s", argv[0], tap.errors().c_str()), 2;
  int program = tool::openAsProgram(link);
  check(program >= 0, link.c_str());

  std::vector<Flooded> sides = {{tapDevice.master, pattern(true, 1)},
                                {program, pattern(false, 2)},
                                {conformDevice.master, pattern(true, 3)}};
  auto begin = Clock::now();
  const double FIRST_S = 3;
  flood(sides,
        begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(FIRST_S)),
        true);
  long tapFirst = residentKb(tap.pid()), conformFirst = residentKb(conform.pid());
  flood(sides, begin + std::chrono::seconds(seconds), true);
  long tapLast = residentKb(tap.pid()), conformLast = residentKb(conform.pid());
  long tapPeak = residentKb(tap.pid(), "VmHWM:");
  long conformPeak = residentKb(conform.pid(), "VmHWM:");

  // SIGINT to both; the floods go on meanwhile, as a device and a program
  // would. A run still there after 60 s is killed when its Tool goes.
  double endedS[2] = {-1, -1};
  Tool *runs[2] = {&tap, &conform};
  auto signalled = Clock::now();
  for (Tool *run : runs) run->signal(SIGINT);
  for (int left = 2; left > 0 && since(signalled) < 60;) {
    flood(sides, Clock::now() + std::chrono::milliseconds(5), true);
    for (int i = 0; i < 2; i++)
      if (endedS[i] < 0 && runs[i]->waitExit(0) != Tool::RUNNING)
        endedS[i] = since(signalled), left--;
  }

  std::printf("%ld s at pty speed: the tap flooded both ways, conform by its device\n\n", seconds);
  std::printf("| run | resident at %.0f s | at the end | peak | bytes in | SIGINT -> exit |\n",
              FIRST_S);
  std::printf("|---|---|---|---|---|---|\n");
  std::printf("| tap | %ld kB | %ld kB | %ld kB | %.1f MB device, %.1f MB program | %s |\n",
              tapFirst, tapLast, tapPeak, (double)sides[0].sent / 1e6, (double)sides[1].sent / 1e6,
              endedS[0] < 0 ? "not within 60 s"
                            : (std::to_string((int)(endedS[0] * 1000)) + " ms").c_str());
  std::printf("| conform | %ld kB | %ld kB | %ld kB | %.1f MB device | %s |\n", conformFirst,
              conformLast, conformPeak, (double)sides[2].sent / 1e6,
              endedS[1] < 0 ? "not within 60 s"
                            : (std::to_string((int)(endedS[1] * 1000)) + " ms").c_str());
  return 0;
}
