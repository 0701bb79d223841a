// Benchmark (prints figures, judges nothing): how long `talliver-device plot`
// takes to draw a query flood's record, and how much memory, for records of
// a few lengths. Each record is written by the tool's own record writer, as a
// tap would have recorded it: the device asks 650 queries a second (what a
// flooding device gets through under Wine) and types a key each second; the
// program answers 291 queries a second (the line's limit) and each keystroke
// 150 ms after it.
//   plot_flood TALLIVER-DEVICE [MINUTES...]   (1 10 60; records go to $TMPDIR)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "record.h"

using device::Entry;

namespace {
const int64_t QUERY_EVERY_US = 1000000 / 650, ANSWER_EVERY_US = 1000000 / 291;
const int64_t KEY_EVERY_US = 1000000, FC_AFTER_US = 150000;

Entry message(int64_t us, const char *side, const device::Bytes &bytes, const char *meaning) {
  return {us, device::Event::Message, side, bytes, std::vector<int64_t>(bytes.size(), us), meaning};
}

// Writes the record; returns how many messages it holds.
long writeFlood(const std::string &path, int minutes) {
  FILE *f = std::fopen(path.c_str(), "w");
  if (!f) std::perror(path.c_str()), std::exit(2);
  Entry start(0, device::Event::Start);
  start.mode = "tap", start.port = "/dev/ttyUSB0", start.link = "/home/builder/talliver-com1";
  auto put = [&](const Entry &e) { std::fprintf(f, "%s\n", device::recordLine(e).c_str()); };
  put(start);
  put({100, device::Event::DeviceOpen, "", {}, {}, "device port open: /dev/ttyUSB0"});
  put({1000,
       device::Event::ProgramOpen,
       "",
       {},
       {},
       "the program opened its port; the rules start over"});
  const int64_t endUs = (int64_t)minutes * 60 * 1000000;
  long messages = 0, asked = 0, answered = 0;
  int64_t query = 2000, answer = 2000 + ANSWER_EVERY_US, key = 500000, fc = key + FC_AFTER_US;
  while (query < endUs || answer < endUs || key < endUs || fc < endUs) {
    int64_t next = std::min(std::min(query, answer), std::min(key, fc));
    if (next >= endUs) break;
    messages++;
    if (next == key) {
      put(message(key, "device", {0x84, 0x1E, 0x41}, "key a")), key += KEY_EVERY_US;
    } else if (next == fc) {
      put(message(fc, "program", {0xFC}, "key done")), fc += KEY_EVERY_US;
    } else if (next == query) {
      put(message(query, "device", {0xCC}, "query flags")), query += QUERY_EVERY_US, asked++;
    } else if (answered < asked) {
      put(message(answer, "program", {0x88, 0x00, 0x20}, "modifier flags 0x20 (Num)"));
      answer += ANSWER_EVERY_US, answered++;
    } else {
      answer += ANSWER_EVERY_US, messages--;
    }
  }
  put({endUs, device::Event::End});
  if (std::fclose(f) != 0) std::perror(path.c_str()), std::exit(2);
  return messages;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: plot_flood TALLIVER-DEVICE [MINUTES...]\n");
    return 2;
  }
  std::vector<int> lengths;
  for (int i = 2; i < argc; i++) lengths.push_back(std::atoi(argv[i]));
  if (lengths.empty()) lengths = {1, 10, 60};
  const char *tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp ? tmp : "/tmp") + "/plot-flood-XXXXXX";
  if (!mkdtemp(&folder[0])) std::perror("mkdtemp"), std::exit(2);
  std::printf("%-8s %10s %10s %8s %8s %12s %8s\n", "flood", "messages", "record MB", "wall s",
              "CPU s", "max RSS MB", "SVG KB");
  for (int minutes : lengths) {
    std::string record = folder + "/flood.jsonl", picture = folder + "/flood.svg";
    long messages = writeFlood(record, minutes);
    struct stat st;
    stat(record.c_str(), &st);
    std::fflush(stdout);
    auto began = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      freopen("/dev/null", "w", stdout);
      execl(argv[1], argv[1], "plot", record.c_str(), "--out", picture.c_str(), (char *)nullptr);
      _exit(127);
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    struct stat svg = {};
    stat(picture.c_str(), &svg);
    double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%-8s %10ld %10.1f %8.2f %8.2f %12.1f %8.1f%s\n",
                (std::to_string(minutes) + " min").c_str(), messages, (double)st.st_size / 1e6,
                seconds, cpu, (double)usage.ru_maxrss / 1024, (double)svg.st_size / 1024,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  (plot failed)");
    std::fflush(stdout);
    if (!std::getenv("PLOT_FLOOD_KEEP")) unlink(record.c_str()), unlink(picture.c_str());
  }
  rmdir(folder.c_str());
  return 0;
}
