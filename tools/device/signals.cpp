#include "signals.h"

#include <unistd.h>

#include <cstring>

namespace device {

volatile sig_atomic_t stopRequested = 0;

namespace {
const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Fixed buffers: the handler may use nothing that allocates.
char linkPath[4096];
char linkTarget[4096];

void requestStop(int) { stopRequested = 1; }

void removeLinkAndDie(int signal) {
  char now[sizeof linkTarget];
  ssize_t n = readlink(linkPath, now, sizeof now - 1);
  if (n >= 0) {
    now[n] = '\0';
    if (std::strcmp(now, linkTarget) == 0) unlink(linkPath);
  }
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }
}  // namespace

void stopOnSignals() {
  ignoreBrokenPipes();
  for (int s : ENDING_SIGNALS) std::signal(s, requestStop);
}

void removeLinkOnSignals(const std::string &link, const std::string &target) {
  if (link.size() >= sizeof linkPath || target.size() >= sizeof linkTarget) return;
  std::memcpy(linkPath, link.c_str(), link.size() + 1);
  std::memcpy(linkTarget, target.c_str(), target.size() + 1);
  for (int s : ENDING_SIGNALS) std::signal(s, removeLinkAndDie);
  std::signal(SIGPIPE, removeLinkAndDie);  // its output's reader gone, as `| head` does
}

}  // namespace device
