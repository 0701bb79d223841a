#include "session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <time.h>

namespace device {

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double RunClock::ms() const { return std::round(msSince(start) * 1000) / 1000; }

std::string transcriptLine(double ms, const char *arrow, const std::string &bytes,
                           const std::string &what) {
  char head[32];
  std::snprintf(head, sizeof head, "%9.1f %s ", ms, arrow);
  std::string padded = bytes;
  if (padded.size() < 9) padded.resize(9, ' ');
  return head + padded + " " + what;
}

namespace {
void printLine(Session &s, const char *arrow, const std::string &bytes, const std::string &what) {
  std::printf("%s\n", transcriptLine(msSince(s.start), arrow, bytes, what).c_str());
  std::fflush(stdout);
}
}  // namespace

bool fail(const std::string &why) {
  std::fprintf(stderr, "talliver-device: %s\n", why.c_str());
  return false;
}

void send(Session &s, const std::vector<uint8_t> &bytes, const std::string &what) {
  s.line->write(bytes);
  if (!s.quiet) printLine(s, "->", hex(bytes), what);
}

void receiveUntil(Session &s, Clock::time_point deadline) {
  for (uint8_t byte : s.line->read(deadline)) {
    if (auto m = s.decoder.feed(byte)) {
      if (!s.quiet) printLine(s, "<-", hex(m->bytes), describe(*m));
      if (m->command == KEY_DONE) s.fcTimes.push_back(msSince(s.start));
      s.pending.push_back(*m);
    }
  }
}

void forgetReceived(Session &s) {
  receiveUntil(s, Clock::now());
  s.pending.clear();
}

bool awaitCommand(Session &s, int command, int timeoutMs, Message *found) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto it = std::find_if(s.pending.begin(), s.pending.end(),
                           [&](const Message &m) { return m.command == command; });
    if (it != s.pending.end()) {
      if (found) *found = *it;
      s.pending.erase(s.pending.begin(), it + 1);
      return true;
    }
    if (Clock::now() >= deadline) return false;
    receiveUntil(s, deadline);
  }
}

bool requestIdentity(Session &s, int timeoutMs) {
  forgetReceived(s);
  send(s, encode(IDENTIFY, false), "identify");
  Message reply;
  if (!awaitCommand(s, IDENTITY, timeoutMs, &reply)) return fail("no identity reply");
  char why[80];
  std::snprintf(why, sizeof why, "identity %d, %d; the program's is %d, %d", reply.data1,
                reply.data2, IDENTITY_DATA1, IDENTITY_DATA2);
  return (reply.data1 == IDENTITY_DATA1 && reply.data2 == IDENTITY_DATA2) || fail(why);
}

bool keystroke(Session &s, int command, const Key &key, const std::string &label) {
  forgetReceived(s);
  send(s, encode(command, true, key.scan, key.vk), "key " + label);
  s.keystrokesSent++;
  if (!awaitCommand(s, KEY_DONE, s.answerTimeoutMs)) return fail("no FC for key " + label);
  s.keystrokesAcknowledged++;
  return true;
}

void setFlags(Session &s, int flags) {
  char what[32];
  std::snprintf(what, sizeof what, "set flags 0x%02X", flags);
  send(s, encode(MODIFIER_FLAGS, true, 0, flags), what);
}

bool queryFlags(Session &s, Message *reply) {
  forgetReceived(s);
  send(s, encode(QUERY_MODIFIERS, false), "query flags");
  return awaitCommand(s, MODIFIER_FLAGS, s.answerTimeoutMs, reply) || fail("no flags reply");
}

long long rawMicroseconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC_RAW, &t);
  return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, (size_t)(p * (double)values.size()))];
}

}  // namespace device
