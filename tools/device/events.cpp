#include "events.h"

#include "judge.h"

namespace device {

namespace {
const EventKind KINDS[] = {
    {"start", nullptr, false, nullptr, Replay::None},
    {"end", nullptr, false, nullptr, Replay::None},
    {"cut", nullptr, false, nullptr, Replay::None},
    {"message", nullptr, false, nullptr, Replay::Bytes},
    {"partial", nullptr, false, nullptr, Replay::Bytes},
    {"warning", nullptr, false, nullptr, Replay::None},
    {"parity-error", nullptr, false, nullptr, Replay::LineError},
    {"break", nullptr, false, nullptr, Replay::LineError},
    {"dropped", nullptr, false, nullptr, Replay::Lost},
    {"lost", nullptr, false, nullptr, Replay::Lost},
    {"device-open", nullptr, false, nullptr, Replay::AsEvent},
    {"device-waiting", nullptr, false, nullptr, Replay::AsEvent},
    {"device-gone", nullptr, false, nullptr, Replay::AsEvent},
    {"program-open", "the program opened its port; the rules start over", true, nullptr,
     Replay::AsEvent},
    {"program-closed", "the program closed its port", true, nullptr, Replay::AsEvent},
    {"stalled", nullptr, false, nullptr, Replay::AsEvent},
    {"taking", nullptr, false, nullptr, Replay::AsEvent},
    {"withhold", "FC withheld for 2 s", false, &Judge::fcWithheld, Replay::AsEvent},
    {"release", "FC sent after being withheld", false, &Judge::fcSent, Replay::AsEvent},
    {"port-closed", "port closed for 1 s, as when the program restarts", false, &Judge::portClosed,
     Replay::AsEvent},
    {"port-open", "port open again", true, &Judge::portOpened, Replay::AsEvent},
    {"prompt", nullptr, false, nullptr, Replay::AsEvent},
};
static_assert(sizeof KINDS / sizeof KINDS[0] == (size_t)Event::COUNT, "an event without its kind");
}  // namespace

const EventKind &kindOf(Event event) { return KINDS[(int)event]; }

Event eventNamed(const std::string &name) {
  int e = 0;
  while (e < (int)Event::COUNT && name != KINDS[e].name) e++;
  return (Event)e;
}

}  // namespace device
