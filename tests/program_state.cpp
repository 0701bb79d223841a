#include "program_state.h"

#include <cstring>
#include <string>

#include "app/monitor.h"
#include "app/notice.h"
#include "keys/modifier_flags.h"
#include "link/message.h"
#include "port/port.h"
#include "port/setup.h"
#include "shared/state.h"

namespace {
// The texts the program starts with, read before any test changes them:
// they are constant-initialised, so they are in place before this runs.
const std::string initialPortName = portName;
const std::string initialNoticeText = noticeText;
}  // namespace

const StateVariable PROGRAM_STATE[] = {
    {"appInstance", [] { appInstance = nullptr; }},
    {"mainWindow", [] { mainWindow = nullptr; }},
    {"pollTimerId", [] { pollTimerId = 0; }},
    {"portHandle", [] { portHandle = nullptr; }},
    {"portName", [] { std::strcpy(portName, initialPortName.c_str()); }},
    {"lastReopenAttempt", [] { lastReopenAttempt = 0; }},
    {"outputQueueUs", [] { outputQueueUs = 0; }},
    {"outputQueueCountedAt", [] { outputQueueCountedAt = 0; }},
    {"receiveBuffer", [] { receiveBuffer = ReceiveBuffer(); }},
    {"pressedByProgram", [] { pressedByProgram = 0; }},
    {"locksRequested", [] { locksRequested = false; }},
    {"requestedFlags", [] { requestedFlags = 0; }},
    {"lastReportedFlags", [] { lastReportedFlags = 0; }},
    {"noticeText", [] { std::strcpy(noticeText, initialNoticeText.c_str()); }},
    {"noticeCountdown", [] { noticeCountdown = 0; }},
};
const size_t PROGRAM_STATE_SIZE = sizeof PROGRAM_STATE / sizeof PROGRAM_STATE[0];

void resetProgramState() {
  for (const StateVariable &variable : PROGRAM_STATE) variable.reset();
}
