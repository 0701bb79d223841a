#include "stop.h"

#include <initializer_list>

namespace device {

volatile sig_atomic_t stopSignal = 0;

void catchSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, [](int signal) { stopSignal = signal; });
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace device
