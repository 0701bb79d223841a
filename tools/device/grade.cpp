// Grading a record again (`talliver-device grade FILE`): the inputs the run
// recorded (each byte at its time, the port events, the line errors) go
// through the same view as in the live run, in the order the run took them,
// and it prints the same lines. The record's own warnings are not read: they
// are worked out again. A record that is not what a run writes is refused,
// naming its line; one cut short is graded up to its last whole line.
#include "modes.h"
#include "replay.h"

namespace device {

Outcome runGrade(const Options &o) {
  const std::string &file = o.file;
  // Read whole first, so that what is not a record is refused before a line is printed.
  std::vector<Entry> entries;
  RecordRead read;
  Outcome refused = readRecord(file, &read, [&](const Entry &e) { entries.push_back(e); });
  if (refused.code != EXIT_PASSED) return refused;

  const Entry &start = read.start;
  Transcript out(true);
  Judge judge(start.marksLineErrors, start.seconds * 1000000);
  View view(out, start.mode, start.marksLineErrors, start.mode == "conform" ? &judge : nullptr);
  out.line("grade: " + file + ": a " + start.mode + " record of " +
           (start.port.empty() ? start.link : start.port));
  Replayer replayer(view);
  for (const Entry &e : entries) replayer.take(e), out.write();
  int code = view.end(replayer.finish());
  if (!read.note.empty())
    out.line("grade: " + read.note + (read.cutInLine ? ": graded up to the line before it" : ""));
  return out.finish({code, ""});
}

}  // namespace device
