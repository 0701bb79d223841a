// Grading a record again (`talliver-device grade FILE`): the inputs the run
// recorded (each byte at its time, the port events, the line errors) go
// through the same view as in the live run, which prints the same warnings
// and the same summary or grades. The record's own warnings are not read:
// they are worked out again.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "conform_plan.h"
#include "conform_view.h"
#include "modes.h"
#include "record.h"
#include "tap_view.h"

namespace device {

namespace {
// One input to the view, in the order the live run took them: by time;
// at one time the device's bytes, then the program's, then events, each
// in the record's order.
struct Input {
  long long us;
  int order;  // 0 a device byte, 1 a program byte, 2 an event
  size_t sequence;
  const RecordEntry *entry;
  uint8_t byte;
};

bool carriesBytes(const std::string &event) { return event == "message" || event == "partial"; }

std::vector<Input> inputsOf(const std::vector<RecordEntry> &entries) {
  std::vector<Input> inputs;
  size_t sequence = 0;
  for (const RecordEntry &e : entries) {
    if (e.event == "start" || e.event == "warning") continue;
    if (!carriesBytes(e.event)) {
      inputs.push_back({e.us, 2, sequence++, &e, 0});
      continue;
    }
    int order = e.dir == "device" ? 0 : 1;
    for (size_t i = 0; i < e.bytes.size(); i++)
      inputs.push_back({e.byteUs.empty() ? e.us : e.byteUs[i], order, sequence++, &e, e.bytes[i]});
  }
  std::stable_sort(inputs.begin(), inputs.end(), [](const Input &a, const Input &b) {
    return a.us != b.us         ? a.us < b.us
           : a.order != b.order ? a.order < b.order
                                : a.sequence < b.sequence;
  });
  return inputs;
}

// What the record's events mean to a view; false for one it does not know.
template <typename View>
bool commonEvent(View &view, const RecordEntry &e, double ms) {
  if (e.event == "parity-error" || e.event == "break") {
    view.lineError(e.event == "break" ? LineByte::BREAK : LineByte::BAD,
                   e.bytes.empty() ? 0 : e.bytes[0], ms);
    return true;
  }
  static const char *notes[] = {"device-waiting", "device-gone", "stalled", "taking", "prompt"};
  for (const char *n : notes)
    if (e.event == n) return view.note(ms, e.event, e.meaning), true;
  return false;
}

bool tapEvent(TapView &view, const RecordEntry &e, double ms) {
  Side side = e.dir == "program" ? Side::Program : Side::Device;
  if (e.event == "dropped") return view.dropped(e.bytes, ms), true;
  if (e.event == "lost") return view.lost(side, e.bytes, ms), true;
  if (e.event == "program-open") return view.programOpened(ms), true;
  if (e.event == "program-closed") return view.programClosed(ms), true;
  if (e.event == "device-open") return view.deviceOpened(ms, e.meaning, e.marksLineErrors), true;
  return commonEvent(view, e, ms);
}

bool conformEvent(ConformView &view, const RecordEntry &e, double ms) {
  if (e.event == "withhold") return view.withheld(ms), true;
  if (e.event == "release") return view.released(ms), true;
  if (e.event == "port-closed") return view.portClosed(ms), true;
  if (e.event == "port-open") return view.portReopened(ms), true;
  return commonEvent(view, e, ms);
}

// Feeds the inputs to the view up to the record's end; false with the
// event it does not know.
template <typename View, typename Event>
bool replay(View &view, const std::vector<RecordEntry> &entries, Event event, double *endMs,
            std::string *why) {
  for (const Input &in : inputsOf(entries)) {
    double ms = (double)in.us / 1000;
    *endMs = ms;
    const RecordEntry &e = *in.entry;
    if (in.order == 0) {
      view.deviceBytes({in.byte}, ms);
    } else if (in.order == 1) {
      view.programBytes({in.byte}, ms);
    } else if (e.event == "end") {
      return true;
    } else if (!event(view, e, ms)) {
      *why = "an event this tool does not know: \"" + e.event + "\"";
      return false;
    }
  }
  return true;
}

bool readRecord(const std::string &file, std::vector<RecordEntry> *entries, std::string *why) {
  std::ifstream in(file);
  if (!in) {
    *why = file + ": cannot read it";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); number++) {
    if (line.empty()) continue;
    RecordEntry e;
    std::string problem;
    if (!parseRecordLine(line, &e, &problem)) {
      *why = file + " line " + std::to_string(number) + ": " + problem;
      return false;
    }
    entries->push_back(e);
  }
  if (entries->empty() || entries->front().event != "start" ||
      (entries->front().mode != "tap" && entries->front().mode != "conform")) {
    *why = file + ": not a record: its first line is no tap's or conformance run's start";
    return false;
  }
  return true;
}
}  // namespace

int runGrade(const std::string &file) {
  std::vector<RecordEntry> entries;
  std::string why;
  if (!readRecord(file, &entries, &why))
    return std::fprintf(stderr, "talliver-device: %s\n", why.c_str()), EXIT_USAGE;
  const RecordEntry &start = entries.front();
  bool ended = entries.back().event == "end";

  Transcript out(true);  // its output is its result: nothing of it is dropped
  out.line("grade: " + file + ": a " + start.mode + " record of " + start.port);
  double endMs = 0;
  int code;
  if (start.mode == "tap") {
    TapView view(out, start.marksLineErrors);
    if (!replay(view, entries, tapEvent, &endMs, &why))
      return std::fprintf(stderr, "talliver-device: %s: %s\n", file.c_str(), why.c_str()),
             EXIT_USAGE;
    view.end(endMs);
    code = view.warnings() > 0 ? EXIT_FAILED : EXIT_PASSED;
  } else {
    ConformPlan plan((double)start.seconds * 1000);
    ConformView view(out, start.marksLineErrors, plan.canWithhold());
    if (!replay(view, entries, conformEvent, &endMs, &why))
      return std::fprintf(stderr, "talliver-device: %s: %s\n", file.c_str(), why.c_str()),
             EXIT_USAGE;
    code = view.end(endMs);
  }
  if (!ended) out.line("grade: the record has no end line: the run was cut short");
  return code;
}

}  // namespace device
