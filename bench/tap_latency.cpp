// Benchmark (prints figures, judges nothing): how much the tap adds to a
// byte's trip. A pty pair stands in for the device's serial port; the tap
// runs between it and the program's COM port, and a byte at a time goes
// through, each way. A direct trip over one pty is the baseline.
//   tap_latency TALLIVER-DEVICE [BYTES]
#include <poll.h>

#include <algorithm>
#include <cstdio>

#include "tool_process.h"

namespace {
using tool::Clock;

void check(bool ok, const char *what) {
  if (!ok) {
    std::perror(what);
    std::exit(2);
  }
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
  tool::executable = argv[1];
  tool::Folder folder;
  std::string link = folder / "com1";

  // The device's port: the tap opens the slave, the device writes the master.
  tool::DevicePort device;
  tool::Tool tap(folder, {"tap", "--port", device.slave, "--link", link}, tool::Tool::NOWHERE);
  if (!tool::within(2000, [&] { return tool::exists(link); }))
    return std::fprintf(stderr, "%s: the tap did not start\n%s", argv[0], tap.errors().c_str()), 2;
  int program = tool::openAsProgram(link);
  check(program >= 0, link.c_str());
  tool::pause(200);

  std::vector<double> toProgram, toDevice, direct;
  for (int i = 0; i < count; i++) toProgram.push_back(trip(device.master, program, 0x41));
  for (int i = 0; i < count; i++) toDevice.push_back(trip(program, device.master, 0x41));
  tool::DevicePort other;
  int otherSlave = tool::openAsProgram(other.slave);
  for (int i = 0; i < count; i++) direct.push_back(trip(other.master, otherSlave, 0x41));
  tap.signal(SIGTERM);
  tap.waitExit(5000);

  std::printf("one byte at a time, %d bytes each way\n\n", count);
  std::printf("| trip | p50 | p99 | max |\n|---|---|---|---|\n");
  report("device -> tap -> program (two pty hops and the tap)", toProgram);
  report("program -> tap -> device", toDevice);
  report("one pty hop, no tap (baseline)", direct);
  return 0;
}
