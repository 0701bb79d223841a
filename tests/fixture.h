// A fresh simulated machine and fresh program state for every test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/monitor.h"
#include "app/notice.h"
#include "keys/modifier_flags.h"
#include "link/message.h"
#include "port/port.h"
#include "shared/state.h"
#include "sim/sim.h"

typedef std::vector<BYTE> Bytes;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Forget keys an earlier test left held by the program, then start clean.
    releaseHeldModifiers();
    forgetRequestedLocks();
    sim::reset();
    receiveBuffer = ReceiveBuffer();
    lastReportedFlags = 0;
    appInstance = nullptr;
    mainWindow = nullptr;
    pollTimerId = 0;
    portHandle = nullptr;
    std::strcpy(noticeText, originalNoticeText());
  }

  // COM1 free, chosen and open as the program's port, as after start-up.
  sim::Port &openCom1() {
    sim::port(1).kind = sim::PortKind::Free;
    EXPECT_TRUE(openPort(findPort('1')));
    return sim::port(1);
  }

  static const char *originalNoticeText() {
    static const std::string text = noticeText;
    return text.c_str();
  }
};
