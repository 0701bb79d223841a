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
#include "program_state.h"
#include "shared/state.h"
#include "sim/sim.h"

typedef std::vector<BYTE> Bytes;
typedef std::vector<sim::KeyEvent> Events;

// A synthesised key event with the scan code the platform maps the key to,
// as the program must look it up.
inline sim::KeyEvent keyDown(BYTE vk) {
  return sim::down(vk, (BYTE)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
}
inline sim::KeyEvent keyUp(BYTE vk) {
  return sim::up(vk, (BYTE)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProgramState();
    sim::reset();
  }

  // COM1 free, chosen and open as the program's port, as after start-up.
  sim::Port &openCom1() {
    sim::port(1).kind = sim::PortKind::Free;
    EXPECT_TRUE(openPort(findPort('1')));
    return sim::port(1);
  }

  // A key the user presses and releases, its messages taken by the thread:
  // a lock key's toggle flips in both state sources.
  static void toggledByUser(int vk) {
    sim::userKey(vk, true);
    sim::userKey(vk, false);
    sim::takeKeyMessages();
  }
  // A key the user holds down, its message taken by the thread.
  static void heldByUser(int vk) {
    sim::userKey(vk, true);
    sim::takeKeyMessages();
  }
};
