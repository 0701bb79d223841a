#include "measure.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace device {

namespace {
const Key F13 = {0x7C, 0x64, false};  // harmless wherever it lands

void pauseFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

bool measureLatency(Session &s, int count) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause(0, 400);
  std::vector<double> times;
  for (int i = 0; i < count; i++) {
    pauseFor(pause(random));
    auto written = Clock::now();
    std::printf("write-time-us %lld\n", rawMicroseconds());
    if (!keystroke(s, KEY_STROKE, F13, "F13")) return false;
    times.push_back(msSince(written));
  }
  std::printf("latency write->FC over %zu keystrokes: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              times.size(), percentile(times, 0.50), percentile(times, 0.99),
              *std::max_element(times.begin(), times.end()));
  return true;
}

bool soak(Session &s, int seconds) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> pause(0, 300), pick(0, 9);
  std::vector<double> latencies;
  int keys = 0, queries = 0, flagReplies = 0, identifies = 0, identities = 0, requests = 0;
  bool scrollLock = false;
  auto end = Clock::now() + std::chrono::seconds(seconds);
  s.quiet = true;
  while (Clock::now() < end) {
    pauseFor(pause(random));
    int choice = pick(random);
    if (choice < 7) {
      keys++;
      auto written = Clock::now();
      if (keystroke(s, KEY_STROKE, F13, "F13")) latencies.push_back(msSince(written));
    } else if (choice == 7) {
      queries++;
      Message reply;
      if (queryFlags(s, &reply)) flagReplies++;
    } else if (choice == 8) {
      identifies++;
      if (requestIdentity(s, s.answerTimeoutMs)) identities++;
    } else {
      requests++;
      scrollLock = !scrollLock;
      setFlags(s, scrollLock ? 0x10 : 0x00);
    }
  }
  if (scrollLock) setFlags(s, 0x00);
  s.quiet = false;
  int acknowledged = (int)latencies.size();
  std::printf(
      "soak: %d s, %d keystrokes, %d FC, %d lost; FC latency p50 %.1f ms, p99 %.1f ms; "
      "%d queries, %d answered; %d identify, %d answered; %d flag requests\n",
      seconds, keys, acknowledged, keys - acknowledged, percentile(latencies, 0.50),
      percentile(latencies, 0.99), queries, flagReplies, identifies, identities, requests);
  std::fflush(stdout);
  return true;
}

bool flood(Session &s, int ms, int byte) {
  // 9600 baud with a start bit, 8 data bits, parity and a stop bit: 11 bits
  // a byte on the wire.
  const double BYTES_PER_MS = 9600.0 / 11 / 1000;
  const uint8_t value = (uint8_t)byte;
  long sent = 0, answers = 0;
  std::vector<long> answersPerSecond((size_t)(ms / 1000 + 2), 0);
  auto start = Clock::now();
  s.quiet = true;
  for (double elapsed = 0; elapsed < ms; elapsed = msSince(start)) {
    long due = (long)(elapsed * BYTES_PER_MS) - sent;
    if (due > 0) sent += (long)s.line->tryWrite(std::vector<uint8_t>((size_t)due, value));
    receiveUntil(s, Clock::now() + std::chrono::milliseconds(2));
    size_t second = std::min(answersPerSecond.size() - 1, (size_t)(msSince(start) / 1000));
    answersPerSecond[second] += (long)s.pending.size();
    answers += (long)s.pending.size();
    s.pending.clear();
  }
  s.quiet = false;
  std::printf("flood: %ld bytes of 0x%02X in %d ms, %ld answers; answers each second:", sent, value,
              ms, answers);
  for (size_t i = 0; i + 1 < answersPerSecond.size(); i++) std::printf(" %ld", answersPerSecond[i]);
  // Paced, the line takes the program's output no faster than it carries
  // it; what the program wrote beyond that waited in the line.
  if (s.line->paced())
    std::printf("; the program's output waiting in the line: up to %zu bytes",
                s.line->mostWaiting());
  std::printf("\n");
  std::fflush(stdout);
  return true;
}

}  // namespace device
