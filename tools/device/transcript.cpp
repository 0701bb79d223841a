#include "transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "session.h"

namespace device {

long long microseconds(double ms) { return std::llround(ms * 1000); }

const char *sideName(Side side) { return side == Side::Device ? "device" : "program"; }

namespace {
std::unique_ptr<LineSink> openSink(const std::string &option, const std::string &path,
                                   std::string *why) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = option + " " + path + ": cannot write: " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<LineSink>(new LineSink(fd, true));
}

std::vector<long long> byteTimes(const std::vector<double> &ms) {
  std::vector<long long> us;
  for (double t : ms) us.push_back(microseconds(t));
  return us;
}

std::string ruleAndEvidence(const Warning &w) {
  return std::string(ruleName(w.rule)) + ": " + w.evidence;
}

std::string messageLine(const TimedMessage &m) {
  bool fromDevice = m.side == Side::Device;
  return transcriptLine(m.lastMs(), fromDevice ? "->" : "<-", hex(m.message.bytes),
                        fromDevice ? describeRequest(m.message) : describe(m.message));
}
}  // namespace

Transcript::Transcript(bool waits) : stdout_(new LineSink(STDOUT_FILENO, false, waits)) {}

bool Transcript::open(const std::string &log, const std::string &record, std::string *why) {
  if (!log.empty() && !(log_ = openSink("--log", log, why))) return false;
  return record.empty() || (record_ = openSink("--record", record, why));
}

void Transcript::line(const std::string &text) {
  stdout_->line(text);
  if (log_) log_->line(text);
}

void Transcript::record(const RecordEntry &entry) {
  if (record_) record_->line(recordLine(entry));
}

void Transcript::event(double ms, const std::string &event, const std::string &what,
                       const std::string &dir, const std::vector<uint8_t> &bytes) {
  RecordEntry e;
  e.us = microseconds(ms);
  e.event = event;
  e.dir = dir;
  e.bytes = bytes;
  e.meaning = what;
  this->event(e);
}

void Transcript::event(const RecordEntry &entry) {
  line(transcriptLine((double)entry.us / 1000, "==", "", entry.meaning));
  record(entry);
}

void Transcript::sightings(const std::vector<Sighting> &batch) {
  // Warnings after a message in one batch are about that message.
  RecordEntry pending;
  auto flush = [&] {
    if (!pending.event.empty()) record(pending);
    pending = RecordEntry();
  };
  for (const Sighting &s : batch) {
    if (s.isWarning) {
      line(warningLine(s.warning));
      if (pending.event.empty()) {
        pending.us = microseconds(s.warning.atMs);
        pending.event = "warning";
        pending.dir = sideName(Side::Device);
        pending.warnings = {ruleAndEvidence(s.warning)};
        flush();
      } else {
        pending.warnings.push_back(ruleAndEvidence(s.warning));
      }
      continue;
    }
    flush();
    const TimedMessage &m = s.message;
    std::string text = messageLine(m);
    line(text);
    pending.us = microseconds(m.firstMs());
    pending.event = "message";
    pending.dir = sideName(m.side);
    pending.bytes = m.message.bytes;
    pending.byteUs = byteTimes(m.byteMs);
    pending.meaning = m.side == Side::Device ? describeRequest(m.message) : describe(m.message);
  }
  flush();
}

void Transcript::lineError(const std::vector<Sighting> &batch, LineByte::Kind kind, uint8_t byte) {
  sightings(std::vector<Sighting>(batch.begin(), batch.end() - 1));
  const Warning &w = batch.back().warning;
  line(warningLine(w));
  RecordEntry e;
  e.us = microseconds(w.atMs);
  e.event = kind == LineByte::BREAK ? "break" : "parity-error";
  e.dir = sideName(Side::Device);
  e.bytes = {byte};
  e.meaning = w.evidence;
  e.warnings = {ruleAndEvidence(w)};
  record(e);
}

void Transcript::unfinished(const LinkWatch &watch) {
  for (Side side : {Side::Device, Side::Program}) {
    const OpenMessage &open = watch.openMessage(side);
    if (open.bytes.empty()) continue;
    RecordEntry e;
    e.us = microseconds(open.byteMs.front());
    e.event = "partial";
    e.dir = sideName(side);
    e.bytes = open.bytes;
    e.byteUs = byteTimes(open.byteMs);
    e.meaning = "a message begun and never ended";
    record(e);
  }
}

void Transcript::end(double ms) {
  RecordEntry e;
  e.us = microseconds(ms);
  e.event = "end";
  record(e);
}

}  // namespace device
