#include "conform_view.h"

#include "conform_plan.h"
#include "session.h"

namespace device {

namespace {
// This side answers late on purpose (the withheld FC): not the device's doing.
std::vector<Sighting> shown(const std::vector<Sighting> &batch) {
  std::vector<Sighting> kept;
  for (const Sighting &s : batch)
    if (!s.isWarning || s.warning.rule != Rule::NoFc) kept.push_back(s);
  return kept;
}
}  // namespace

std::vector<Message> ConformView::take(const std::vector<Sighting> &batch) {
  std::vector<Message> fromDevice;
  for (const Sighting &s : batch) {
    judge_.sighting(s);
    if (!s.isWarning && s.message.side == Side::Device) fromDevice.push_back(s.message.message);
  }
  out_.sightings(shown(batch));
  return fromDevice;
}

std::vector<Message> ConformView::deviceBytes(const std::vector<uint8_t> &bytes, double ms) {
  std::vector<Message> messages;
  for (uint8_t b : bytes)
    for (const Message &m : take(watch_.feed(Side::Device, b, ms))) messages.push_back(m);
  return messages;
}

void ConformView::programBytes(const std::vector<uint8_t> &bytes, double ms) {
  for (uint8_t b : bytes) take(watch_.feed(Side::Program, b, ms));
}

void ConformView::lineError(LineByte::Kind kind, uint8_t byte, double ms) {
  std::vector<Sighting> batch = watch_.lineError(kind, byte, ms);
  for (const Sighting &s : batch) judge_.sighting(s);
  out_.lineError(shown(batch), kind, byte);
}

void ConformView::withheld(double ms) {
  judge_.withheld(ms);
  out_.event(ms, "withhold", "FC withheld for 2 s");
}

void ConformView::released(double ms) {
  judge_.released(ms, watch_.deviceMessageOpen());
  out_.event(ms, "release", "FC sent after being withheld");
}

void ConformView::portClosed(double ms) {
  judge_.portClosed();
  out_.event(ms, "port-closed", "port closed for 1 s, as when the program restarts");
}

void ConformView::portReopened(double ms) {
  // What arrived while it was closed is lost, as on a real port, and the
  // program's side starts afresh.
  advance(ms);
  out_.unfinished(watch_);
  take(watch_.restart());
  judge_.portReopened(ms);
  out_.event(ms, "port-open", "port open again");
}

void ConformView::note(double ms, const std::string &event, const std::string &what) {
  out_.event(ms, event, what);
}

void ConformView::advance(double ms) { take(watch_.advance(ms)); }

int ConformView::end(double ms) {
  advance(ms);
  out_.unfinished(watch_);
  out_.end(ms);
  std::vector<Grade> grades = judge_.grades();
  for (const Grade &g : grades) out_.line(gradeLine(g));
  out_.line(gradeSummary(grades));
  return gradeExitCode(grades);
}

}  // namespace device
