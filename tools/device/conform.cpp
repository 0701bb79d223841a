// The conformance run: plays the program's side against a real device for a
// stated time while a person presses the device's keys, then grades what the
// device did against the link's rules. Along the way it withholds one FC for
// a while, and closes and reopens the port once, to see how the device
// copes with both.
#include <poll.h>
#include <termios.h>

#include <cstdio>
#include <deque>
#include <map>
#include <vector>

#include "link_watch.h"
#include "modes.h"
#include "serial_port.h"
#include "session.h"
#include "transcript.h"

namespace device {

namespace {
const double WITHHOLD_MS = 2000;  // the FC held back from one keystroke
const double CLOSED_MS = 1000;    // the port closed once
const double WITHHOLD_AT = 0.2;   // of the run: the first keystroke after this
const double CLOSE_AT = 0.6;      // of the run
const int IDENTITY_DATA1 = 2, IDENTITY_DATA2 = 34;

struct Grade {
  enum Kind { PASS, WARN, FAIL } kind;
  std::string rule, evidence;
};

// The program's side: answers at each tick as the program does, every
// waiting message but at most one keystroke.
struct ProgramSide {
  SerialPort &port;
  LinkWatch &watch;
  Transcript &out;
  Clock::time_point start;
  std::deque<Message> waiting;
  uint8_t flags = 0;

  double now() const { return msSince(start); }
  void send(const std::vector<uint8_t> &bytes) {
    if (!port.isOpen() || !port.write(bytes)) return;
    double ms = now();
    for (uint8_t b : bytes)
      for (const Sighting &s : watch.feed(Side::Program, b, ms)) out.sighting(s);
  }
  // Handles what waits; returns a keystroke to acknowledge, if one was taken.
  bool tick(bool keystrokesAllowed) {
    while (!waiting.empty()) {
      Message m = waiting.front();
      bool keystroke = m.command == KEY_STROKE || m.command == SYS_KEY_STROKE;
      if (keystroke && !keystrokesAllowed) return false;
      waiting.pop_front();
      if (keystroke) return true;
      if (m.command == MODIFIER_FLAGS) flags = m.data2;
      if (m.command == QUERY_MODIFIERS) send(encode(MODIFIER_FLAGS, true, 0, flags));
      if (m.command == IDENTIFY) send(encode(IDENTITY, true, IDENTITY_DATA1, IDENTITY_DATA2));
    }
    return false;
  }
};

// PASS when the rule was never broken, else FAIL with how often and the first time.
Grade byRule(const std::vector<Warning> &warnings, const char *name, Rule rule,
             const std::string &passEvidence) {
  const Warning *first = nullptr;
  int n = 0;
  for (const Warning &w : warnings) {
    if (w.rule != rule) continue;
    if (n++ == 0) first = &w;
  }
  if (n == 0) return {Grade::PASS, name, passEvidence};
  char count[64];
  std::snprintf(count, sizeof count, "%d time%s; first at %.1f ms: ", n, n == 1 ? "" : "s",
                first->atMs);
  return {Grade::FAIL, name, count + first->evidence};
}
}  // namespace

int runConform(const ConformOptions &options) {
  Transcript out;
  if (!options.log.empty() && !out.openLog(options.log))
    return std::fprintf(stderr, "talliver-device: cannot write %s\n", options.log.c_str()), 2;
  SerialPort port(options.port);
  std::string why;
  if (!port.open(&why)) return std::fprintf(stderr, "talliver-device: %s\n", why.c_str()), 2;
  stopOnSignals();

  LinkWatch watch;
  ProgramSide program{port, watch, out, Clock::now(), {}, 0};
  std::vector<Warning> warnings;
  std::map<int, int> commands;  // how many messages of each command
  const double runMs = options.seconds * 1000.0;

  // The FC withheld, and what the device did meanwhile.
  enum { BEFORE, HOLDING, DONE } withhold = BEFORE;
  double withheldAt = 0;
  int sentWhileHeld = 0;
  bool halfMessage = false;
  // The port closed and reopened, and what came after.
  enum { OPEN, CLOSED, REOPENED } reopen = OPEN;
  double closedAt = 0, reopenedAt = 0;
  int messagesAfter = 0, warningsAfter = 0;

  out.line("conform: " + options.port + (port.note().empty() ? "" : " (" + port.note() + ")") +
           "; press the device's keys now, for " + std::to_string(options.seconds) + " s");
  auto record = [&](const std::vector<Sighting> &sightings) {
    for (const Sighting &s : sightings) {
      // This side answers late on purpose (the withheld FC): not the device's doing.
      if (s.isWarning && s.warning.rule == Rule::NoFc) continue;
      out.sighting(s);
      if (s.isWarning) {
        warnings.push_back(s.warning);
        if (reopen == REOPENED) warningsAfter++;
        continue;
      }
      if (s.message.side != Side::Device) continue;
      const Message &m = s.message.message;
      commands[m.command]++;
      if (withhold == HOLDING) sentWhileHeld++;
      if (reopen == REOPENED) messagesAfter++;
      program.waiting.push_back(m);
    }
  };

  double nextTick = TICK_MS;
  while (!stopRequested && program.now() < runMs) {
    double now = program.now();
    if (reopen == OPEN && now >= runMs * CLOSE_AT) {
      port.close();
      reopen = CLOSED;
      closedAt = now;
      out.line(transcriptLine(now, "==", "", "port closed for 1 s, as when the program restarts"));
    }
    if (reopen == CLOSED && now - closedAt >= CLOSED_MS) {
      if (!port.open(&why)) return std::fprintf(stderr, "talliver-device: %s\n", why.c_str()), 2;
      // What arrived while it was closed is lost, as on a real port.
      tcflush(port.fd(), TCIFLUSH);
      watch.restart();
      program.waiting.clear();
      reopen = REOPENED;
      reopenedAt = now;
      out.line(transcriptLine(now, "==", "", "port open again"));
    }

    pollfd p = {port.isOpen() ? port.fd() : -1, POLLIN, 0};
    poll(&p, 1, 10);
    now = program.now();
    if (port.isOpen() && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
      std::vector<uint8_t> bytes;
      if (!port.readAvailable(&bytes) && bytes.empty())
        return std::fprintf(stderr, "talliver-device: the device has gone\n"), 2;
      for (uint8_t b : bytes) record(watch.feed(Side::Device, b, now));
    }
    record(watch.advance(now));

    if (withhold == HOLDING && now - withheldAt >= WITHHOLD_MS) {
      halfMessage = watch.deviceMessageOpen();
      withhold = DONE;
      out.line(transcriptLine(now, "==", "", "FC sent after being withheld"));
      program.send(encode(KEY_DONE, false));
    }
    if (now < nextTick) continue;
    nextTick += TICK_MS;
    if (!port.isOpen() || !program.tick(withhold != HOLDING)) continue;
    if (withhold == BEFORE && now >= runMs * WITHHOLD_AT) {
      withhold = HOLDING;
      withheldAt = now;
      out.line(transcriptLine(now, "==", "", "FC withheld for 2 s"));
      continue;
    }
    program.send(encode(KEY_DONE, false));
  }

  // The grades, one a rule.
  std::vector<Grade> grades;
  char text[200];
  std::string seen;
  for (auto &c : commands) seen += " " + std::to_string(c.first) + ":" + std::to_string(c.second);
  std::snprintf(text, sizeof text, "%d messages (command:count%s)", watch.messages(Side::Device),
                seen.c_str());
  Grade forms = byRule(warnings, "forms", Rule::IgnoredCommand, text);
  if (forms.kind == Grade::PASS) forms = byRule(warnings, "forms", Rule::OneByteData, text);
  grades.push_back(forms);
  grades.push_back(byRule(warnings, "header-bit7", Rule::HeaderBit7, "every header has bit 7 set"));
  grades.push_back(
      byRule(warnings, "data-bit7", Rule::DataBit7, "every data byte has bit 7 clear"));
  grades.push_back(byRule(warnings, "gaps", Rule::SlowMessage, "every message within one tick"));
  auto countOf = [&](int command) { return commands.count(command) ? commands[command] : 0; };
  int keystrokes = countOf(KEY_STROKE) + countOf(SYS_KEY_STROKE);
  if (keystrokes == 0) {
    grades.push_back({Grade::WARN, "waits-for-fc", "no keystroke seen: press keys during the run"});
  } else {
    std::snprintf(text, sizeof text, "%d keystrokes, each after the FC of the one before",
                  keystrokes);
    grades.push_back(byRule(warnings, "waits-for-fc", Rule::KeyBeforeFc, text));
  }
  if (withhold == BEFORE) {
    grades.push_back({Grade::WARN, "withheld-fc", "no keystroke came to withhold an FC from"});
  } else if (halfMessage || withhold == HOLDING) {
    grades.push_back(
        {Grade::FAIL, "withheld-fc", "a message was left half sent while its FC was withheld"});
  } else {
    std::snprintf(text, sizeof text, "FC withheld %.0f ms: %s", WITHHOLD_MS,
                  sentWhileHeld == 0 ? "the device waited and sent nothing"
                                     : (std::to_string(sentWhileHeld) +
                                        " whole messages meanwhile, none half sent")
                                           .c_str());
    grades.push_back({Grade::PASS, "withheld-fc", text});
  }
  if (reopen != REOPENED) {
    grades.push_back({Grade::WARN, "reopen", "the run ended before the port was reopened"});
  } else if (messagesAfter == 0) {
    grades.push_back(
        {Grade::WARN, "reopen", "no message after the port reopened: press keys after the pause"});
  } else {
    std::snprintf(text, sizeof text, "%d messages after the port reopened at %.1f ms, %s",
                  messagesAfter, reopenedAt,
                  warningsAfter == 0 ? "all clean" : "with warnings (see above)");
    grades.push_back({warningsAfter == 0 ? Grade::PASS : Grade::FAIL, "reopen", text});
  }

  int passed = 0, failed = 0;
  const char *kinds[] = {"PASS", "WARN", "FAIL"};
  for (const Grade &g : grades) {
    out.line(std::string(kinds[g.kind]) + "  " + g.rule + ": " + g.evidence);
    (g.kind == Grade::FAIL ? failed : passed)++;
  }
  std::snprintf(text, sizeof text, "%d passed, %d failed", passed, failed);
  out.line(text);
  return failed == 0 ? 0 : 1;
}

}  // namespace device
