#include "transcript.h"

#include <csignal>

#include "session.h"

namespace device {

volatile bool stopRequested = false;

namespace {
void requestStop(int) { stopRequested = true; }
}  // namespace

void stopOnSignals() {
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
}

bool Transcript::openLog(const std::string &path) {
  log_ = std::fopen(path.c_str(), "w");
  return log_ != nullptr;
}

Transcript::~Transcript() {
  if (log_) std::fclose(log_);
}

void Transcript::line(const std::string &text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  if (log_) {
    std::fprintf(log_, "%s\n", text.c_str());
    std::fflush(log_);
  }
}

void Transcript::sighting(const Sighting &s) {
  if (s.isWarning) return line(warningLine(s.warning));
  const TimedMessage &m = s.message;
  bool fromDevice = m.side == Side::Device;
  line(transcriptLine(m.lastMs, fromDevice ? "->" : "<-", hex(m.message.bytes),
                      fromDevice ? describeRequest(m.message) : describe(m.message)));
}

}  // namespace device
