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

void resetProgramState() {
  appInstance = nullptr;
  mainWindow = nullptr;
  pollTimerId = 0;
  portHandle = nullptr;
  std::strcpy(portName, initialPortName.c_str());
  lastReopenAttempt = 0;
  outputQueueUs = 0;
  outputQueueCountedAt = 0;
  receiveBuffer = ReceiveBuffer();
  pressedByProgram = 0;
  locksRequested = false;
  requestedFlags = 0;
  lastReportedFlags = 0;
  std::strcpy(noticeText, initialNoticeText.c_str());
  noticeCountdown = 0;
}
