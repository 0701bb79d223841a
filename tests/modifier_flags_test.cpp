#include "fixture.h"

namespace {

const BYTE INS = VK_INSERT, CAPS = VK_CAPITAL, NUM = VK_NUMLOCK, SCROLL = VK_SCROLL;
const BYTE ALT = VK_MENU, CTRL = VK_CONTROL, SHIFT = VK_SHIFT;

class ModifierFlagsTest : public ProgramTest {
 protected:
  // Applies a request, lets the thread take its key messages, and returns the
  // events the request synthesised.
  Events apply(ModifierFlags desired) {
    size_t before = sim::keyEvents().size();
    applyModifierFlags(desired);
    sim::takeKeyMessages();
    return Events(sim::keyEvents().begin() + before, sim::keyEvents().end());
  }
};

// Lock keys are read from the thread's key state, held keys from the
// asynchronous one; the rows where the two disagree show which is read.
TEST_F(ModifierFlagsTest, ReadsEachRowFromItsStateSource) {
  struct Row {
    const char *what;
    int vk;
    bool asyncDown, asyncToggled, threadDown, threadToggled;
    ModifierFlags expected;
  };
  const Row rows[] = {
      {"nothing", SHIFT, false, false, false, false, 0x00},
      {"Shift down in both", SHIFT, true, false, true, false, 0x03},
      {"Shift down, message not yet taken", SHIFT, true, false, false, false, 0x03},
      {"Shift up, its key-up not yet taken", SHIFT, false, false, true, false, 0x00},
      {"Alt down", ALT, true, false, false, false, 0x08},
      {"Ctrl down", CTRL, true, false, false, false, 0x04},
      {"Caps Lock on for the thread only", CAPS, false, false, false, true, 0x40},
      {"Caps Lock on asynchronously only", CAPS, false, true, false, false, 0x00},
      {"Num Lock on", NUM, false, true, false, true, 0x20},
      {"Scroll Lock on", SCROLL, false, true, false, true, 0x10},
      {"Insert on", INS, false, true, false, true, 0x80},
      {"Caps Lock held down is not on", CAPS, true, false, true, false, 0x00},
      {"Ctrl toggled is not down", CTRL, false, true, false, true, 0x00},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    sim::setAsyncKey(row.vk, row.asyncDown, row.asyncToggled);
    sim::setThreadKey(row.vk, row.threadDown, row.threadToggled);
    EXPECT_EQ(readModifierFlags(), row.expected);
  }
}

TEST_F(ModifierFlagsTest, RequestsFromAllClear) {
  struct Row {
    ModifierFlags desired;
    Events expected;
  };
  const Row rows[] = {
      {0x00, {}},
      {0x08, {keyDown(ALT)}},
      {0x40, {keyDown(CAPS), keyUp(CAPS)}},
      {0x03, {keyDown(SHIFT), keyDown(SHIFT)}},
      {0xFF,
       {keyDown(INS), keyUp(INS), keyDown(CAPS), keyUp(CAPS), keyDown(NUM), keyUp(NUM),
        keyDown(SCROLL), keyUp(SCROLL), keyDown(ALT), keyDown(CTRL), keyDown(SHIFT),
        keyDown(SHIFT)}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "desired 0x" << std::hex << (int)row.desired);
    SetUp();
    EXPECT_EQ(apply(row.desired), row.expected);
    EXPECT_EQ(readModifierFlags(), row.desired);
  }
}

// Requests one after another, each absolute: a held key stays down until a
// request clears it, a lock key gets a full press either way, clearing one
// Shift bit releases the one Shift key, and rows go from bit 7 down.
TEST_F(ModifierFlagsTest, RequestsInTurn) {
  struct Row {
    const char *what;
    int toggledOn;  // lock key the user left on, or 0
    std::vector<std::pair<ModifierFlags, Events>> requests;
    ModifierFlags after;
  };
  const Row rows[] = {
      {"Alt held, then cleared",
       0,
       {{0x08, {keyDown(ALT)}}, {0x08, {}}, {0x00, {keyUp(ALT)}}},
       0x00},
      {"Caps Lock off again", CAPS, {{0x00, {keyDown(CAPS), keyUp(CAPS)}}}, 0x00},
      {"one Shift bit cleared",
       0,
       {{0x03, {keyDown(SHIFT), keyDown(SHIFT)}}, {0x02, {keyUp(SHIFT)}}},
       0x00},
      {"Num Lock off, Ctrl on", NUM, {{0x04, {keyDown(NUM), keyUp(NUM), keyDown(CTRL)}}}, 0x04},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    if (row.toggledOn) toggledByUser(row.toggledOn);
    for (const auto &request : row.requests) EXPECT_EQ(apply(request.first), request.second);
    EXPECT_EQ(readModifierFlags(), row.after);
  }
}

TEST_F(ModifierFlagsTest, SecondRequestBeforeTheThreadCatchesUpIsAbsolute) {
  // The thread has not yet taken the Caps Lock messages, so its key state
  // still says off; the second request must not press Caps Lock again.
  applyModifierFlags(0x40);
  applyModifierFlags(0x40);
  EXPECT_EQ(sim::keyEvents(), (Events{keyDown(CAPS), keyUp(CAPS)}));
  EXPECT_EQ(expectedModifierFlags(), 0x40);
  EXPECT_EQ(readModifierFlags(), 0x00) << "the thread's own state lags";
  forgetRequestedLocks();
  sim::takeKeyMessages();
  EXPECT_EQ(expectedModifierFlags(), 0x40) << "and catches up";
}

TEST_F(ModifierFlagsTest, ReleasesOnlyTheHeldKeysItPressed) {
  heldByUser(CTRL);
  apply(0x4F);  // Caps Lock, Alt, Ctrl (the user's, already down), both Shift bits
  apply(0x4E);  // one Shift bit cleared: Shift released
  sim::clearKeyEvents();
  releaseHeldModifiers();
  EXPECT_EQ(sim::keyEvents(), (Events{keyUp(ALT)})) << "not Ctrl, not the lock key";
  sim::clearKeyEvents();
  releaseHeldModifiers();
  EXPECT_EQ(sim::keyEvents(), Events{});
}

}  // namespace
