// Benchmark (prints figures, judges nothing): how much the tap adds to a
// byte's trip. A pty pair stands in for the device's serial port; the tap
// runs between it and the program's COM port, and a byte at a time goes
// through, each way. A direct trip over one pty is the baseline.
//   tap_latency TALLIVER-DEVICE [BYTES]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

void check(bool ok, const char *what) {
  if (!ok) {
    std::perror(what);
    std::exit(2);
  }
}

// A raw pty pair: the master, and the slave's path.
int openPty(std::string *slave) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  check(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0, "posix_openpt");
  *slave = ptsname(master);
  return master;
}

int openRaw(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  check(fd >= 0, path.c_str());
  termios tio;
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Microseconds for one byte written at `from` to be read at `to`.
double trip(int from, int to, uint8_t byte) {
  auto start = Clock::now();
  check(write(from, &byte, 1) == 1, "write");
  pollfd p = {to, POLLIN, 0};
  check(poll(&p, 1, 2000) == 1, "poll (byte lost)");
  uint8_t got;
  check(read(to, &got, 1) == 1 && got == byte, "read");
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void report(const char *what, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  std::printf("| %s | %.0f us | %.0f us | %.0f us |\n", what, us[us.size() / 2],
              us[std::min(us.size() - 1, us.size() * 99 / 100)], us.back());
}
}  // namespace

int main(int argc, char **argv) {
  const char *usage = "usage: tap_latency TALLIVER-DEVICE [BYTES]  (default 2000 each way)\n";
  if (argc < 2 || argc > 3) return std::fputs(usage, stderr), 2;
  int count = 2000;
  if (argc == 3) {
    char *end;
    long n = std::strtol(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || n < 1 || n > 1000000)
      return std::fprintf(stderr, "tap_latency: BYTES '%s' is not a count from 1 to 1000000\n",
                          argv[2]),
             2;
    count = (int)n;
  }
  char dir[] = "/tmp/tap-latency-XXXXXX";
  check(mkdtemp(dir) != nullptr, "mkdtemp");
  std::string link = std::string(dir) + "/com1";

  // The device's port: the tap opens the slave, the device writes the master.
  std::string deviceSlave;
  int device = openPty(&deviceSlave);
  pid_t tap = fork();
  if (tap == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(argv[1], argv[1], "tap", "--port", deviceSlave.c_str(), "--link", link.c_str(),
          (char *)nullptr);
    _exit(127);
  }
  for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int program = openRaw(link);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  std::vector<double> toProgram, toDevice, direct;
  for (int i = 0; i < count; i++) toProgram.push_back(trip(device, program, 0x41));
  for (int i = 0; i < count; i++) toDevice.push_back(trip(program, device, 0x41));
  std::string otherSlave;
  int otherMaster = openPty(&otherSlave);
  int other = openRaw(otherSlave);
  for (int i = 0; i < count; i++) direct.push_back(trip(otherMaster, other, 0x41));

  kill(tap, SIGTERM);
  waitpid(tap, nullptr, 0);
  unlink(link.c_str());
  rmdir(dir);

  std::printf("one byte at a time, %d bytes each way\n\n", count);
  std::printf("| trip | p50 | p99 | max |\n|---|---|---|---|\n");
  report("device -> tap -> program (two pty hops and the tap)", toProgram);
  report("program -> tap -> device", toDevice);
  report("one pty hop, no tap (baseline)", direct);
  return 0;
}
