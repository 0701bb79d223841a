#include "events.h"

#include "judge.h"

namespace device {

namespace {
const EventKind KINDS[] = {
    {"start", nullptr, false, nullptr, Replay::None, Stretch::None, Stretch::None, nullptr},
    {"end", nullptr, false, nullptr, Replay::None, Stretch::None, Stretch::None, nullptr},
    {"cut", nullptr, false, nullptr, Replay::None, Stretch::None, Stretch::None, nullptr},
    {"message", nullptr, false, nullptr, Replay::Bytes, Stretch::None, Stretch::None, nullptr},
    {"partial", nullptr, false, nullptr, Replay::Bytes, Stretch::None, Stretch::None, nullptr},
    {"warning", nullptr, false, nullptr, Replay::None, Stretch::None, Stretch::None, nullptr},
    {"parity-error", nullptr, false, nullptr, Replay::LineError, Stretch::None, Stretch::None,
     nullptr},
    {"break", nullptr, false, nullptr, Replay::LineError, Stretch::None, Stretch::None, nullptr},
    {"dropped", nullptr, false, nullptr, Replay::Lost, Stretch::None, Stretch::None, nullptr},
    {"lost", nullptr, false, nullptr, Replay::Lost, Stretch::None, Stretch::None, nullptr},
    {"device-open", nullptr, false, nullptr, Replay::AsEvent, Stretch::None, Stretch::DeviceGone,
     "device open"},
    {"device-waiting", nullptr, false, nullptr, Replay::AsEvent, Stretch::DeviceGone, Stretch::None,
     "no device yet"},
    {"device-gone", nullptr, false, nullptr, Replay::AsEvent, Stretch::DeviceGone, Stretch::None,
     "device gone"},
    {"program-open", "the program opened its port; the rules start over", true, nullptr,
     Replay::AsEvent, Stretch::None, Stretch::PortClosed, "program opened its port"},
    {"program-closed", "the program closed its port", true, nullptr, Replay::AsEvent,
     Stretch::PortClosed, Stretch::None, "program closed its port"},
    {"stalled", nullptr, false, nullptr, Replay::AsEvent, Stretch::Stalled, Stretch::None,
     "a side stopped taking bytes"},
    {"taking", nullptr, false, nullptr, Replay::AsEvent, Stretch::None, Stretch::Stalled, nullptr},
    {"withhold", "FC withheld for 2 s", false, &Judge::fcWithheld, Replay::AsEvent,
     Stretch::Withheld, Stretch::None, "FC withheld"},
    {"release", "FC sent after being withheld", false, &Judge::fcSent, Replay::AsEvent,
     Stretch::None, Stretch::Withheld, "withheld FC sent"},
    {"port-closed", "port closed for 1 s, as when the program restarts", false, &Judge::portClosed,
     Replay::AsEvent, Stretch::PortClosed, Stretch::None, "port closed, as at a restart"},
    {"port-open", "port open again", true, &Judge::portOpened, Replay::AsEvent, Stretch::None,
     Stretch::PortClosed, "port reopened"},
    {"prompt", nullptr, false, nullptr, Replay::AsEvent, Stretch::None, Stretch::None,
     "asked for keys"},
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
