#include "fixture.h"

namespace {

using sim::down;
using sim::up;
typedef std::vector<sim::KeyEvent> Events;

const BYTE INS = VK_INSERT, CAPS = VK_CAPITAL, NUM = VK_NUMLOCK, SCROLL = VK_SCROLL;
const BYTE ALT = VK_MENU, CTRL = VK_CONTROL, SHIFT = VK_SHIFT;
// The simulated keyboard's scan codes.
const BYTE S_INS = 0x52, S_CAPS = 0x3A, S_NUM = 0x45, S_SCROLL = 0x46;
const BYTE S_ALT = 0x38, S_CTRL = 0x1D, S_SHIFT = 0x2A;

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

TEST_F(ModifierFlagsTest, ReadsEachRowFromItsStateSource) {
  EXPECT_EQ(readModifierFlags(), 0x00);
  sim::holdKey(VK_SHIFT, true);
  EXPECT_EQ(readModifierFlags(), 0x03);  // both Shift bits
  sim::holdKey(VK_SHIFT, false);
  sim::setToggled(VK_NUMLOCK, true);
  sim::setToggled(VK_INSERT, true);
  sim::holdKey(VK_MENU, true);
  EXPECT_EQ(readModifierFlags(), 0xA8);
  // A lock key held down is not "on"; a modifier's toggle bit is not "down".
  sim::reset();
  sim::holdKey(VK_CAPITAL, true);
  sim::setToggled(VK_CONTROL, true);
  EXPECT_EQ(readModifierFlags(), 0x00);
}

TEST_F(ModifierFlagsTest, RequestsFromAllClear) {
  struct Row {
    ModifierFlags desired;
    Events expected;
  };
  const Row rows[] = {
      {0x00, {}},
      {0x08, {down(ALT, S_ALT)}},
      {0x40, {down(CAPS, S_CAPS), up(CAPS, S_CAPS)}},
      {0x03, {down(SHIFT, S_SHIFT), down(SHIFT, S_SHIFT)}},
      {0xFF,
       {down(INS, S_INS), up(INS, S_INS), down(CAPS, S_CAPS), up(CAPS, S_CAPS), down(NUM, S_NUM),
        up(NUM, S_NUM), down(SCROLL, S_SCROLL), up(SCROLL, S_SCROLL), down(ALT, S_ALT),
        down(CTRL, S_CTRL), down(SHIFT, S_SHIFT), down(SHIFT, S_SHIFT)}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "desired 0x" << std::hex << (int)row.desired);
    SetUp();
    EXPECT_EQ(apply(row.desired), row.expected);
    EXPECT_EQ(readModifierFlags(), row.desired);
  }
}

TEST_F(ModifierFlagsTest, HeldKeyStaysDownUntilCleared) {
  apply(0x08);
  EXPECT_EQ(apply(0x08), Events{});
  EXPECT_EQ(apply(0x00), (Events{up(ALT, S_ALT)}));
}

TEST_F(ModifierFlagsTest, LockKeyGetsFullPressBothWays) {
  apply(0x40);
  EXPECT_EQ(readModifierFlags(), 0x40);
  EXPECT_EQ(apply(0x00), (Events{down(CAPS, S_CAPS), up(CAPS, S_CAPS)}));
  EXPECT_EQ(readModifierFlags(), 0x00);
}

TEST_F(ModifierFlagsTest, ClearingOneShiftBitReleasesTheOneShiftKey) {
  apply(0x03);
  EXPECT_EQ(apply(0x02), (Events{up(SHIFT, S_SHIFT)}));
  EXPECT_EQ(readModifierFlags(), 0x00);
}

TEST_F(ModifierFlagsTest, RequestIsAbsoluteAndRowsGoFromBit7) {
  sim::setToggled(VK_NUMLOCK, true);
  EXPECT_EQ(apply(0x04), (Events{down(NUM, S_NUM), up(NUM, S_NUM), down(CTRL, S_CTRL)}));
}

TEST_F(ModifierFlagsTest, SecondRequestBeforeTheThreadCatchesUpIsAbsolute) {
  // The thread has not yet taken the Caps Lock messages, so its key state
  // still says off; the second request must not press Caps Lock again.
  applyModifierFlags(0x40);
  applyModifierFlags(0x40);
  EXPECT_EQ(sim::keyEvents(), (Events{down(CAPS, S_CAPS), up(CAPS, S_CAPS)}));
  EXPECT_EQ(expectedModifierFlags(), 0x40);
  EXPECT_EQ(readModifierFlags(), 0x00) << "the thread's own state lags";
}

TEST_F(ModifierFlagsTest, ReleasesOnlyTheHeldKeysItPressed) {
  sim::holdKey(VK_CONTROL, true);  // the user's own Ctrl
  apply(0x4B);                     // Caps Lock, Alt, both Shift bits; Ctrl kept
  apply(0x4A);                     // one Shift bit cleared: Shift released
  sim::clearKeyEvents();
  releaseHeldModifiers();
  EXPECT_EQ(sim::keyEvents(), (Events{up(ALT, S_ALT)}));
  sim::clearKeyEvents();
  releaseHeldModifiers();
  EXPECT_EQ(sim::keyEvents(), Events{});
}

}  // namespace
