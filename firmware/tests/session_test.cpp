// The session against a scripted program: what the device writes, tick by
// tick, as answers come or do not. (The firmware's tests in the simulator
// cover start-up, the order of keystrokes and the lost FCs of whole runs.)
#include <gtest/gtest.h>

#include "hex.h"

#include <cstring>
#include <string>
#include <vector>

#include "session.h"

namespace {

std::vector<uint8_t> written;

const std::vector<uint8_t> FC = {0xFC}, IDENTITY = {0x98, 0x02, 0x22};

#define NAME_ROW(port, bit, scan, vk, modifiers, name) #name,
const char *const NAMES[] = {PIN_MAP(NAME_ROW)};

uint8_t button(const char *name) {
  for (uint8_t b = 0; b < BUTTON_COUNT; b++)
    if (!std::strcmp(NAMES[b], name)) return b;
  ADD_FAILURE() << "no button " << name;
  return 0;
}

// The program's answer to CC D4: the flags, then the identity.
std::vector<uint8_t> answer(uint8_t flags) {
  return {uint8_t(0x88 | (flags >> 6 & 2)), 0x00, uint8_t(flags & 0x7F), 0x98, 0x02, 0x22};
}

class SessionTest : public testing::Test {
 protected:
  session s = {};
  uint16_t now = 0;

  void SetUp() override { written.clear(); }
  void pass(int ms) {
    while (ms-- > 0) session_tick(&s, ++now);
  }
  void hear(const std::vector<uint8_t> &bytes) {
    for (uint8_t b : bytes) session_receive(&s, b, now);
  }
  void press(const char *name) { session_press(&s, button(name), now); }
  std::string sent() {
    std::string text = hex(written);
    written.clear();
    return text;
  }
  void startAnswered() {
    session_start(&s, now);
    hear(IDENTITY);
    sent();
  }
};

}  // namespace

extern "C" void link_write(const uint8_t *bytes, uint8_t count) {
  written.insert(written.end(), bytes, bytes + count);
}

namespace {

// Each row: the flags as the program read them just before (fresh), a
// button, what the device sends, the flags the program answers with in the
// keystroke's tick, and the closing request after its FC.
TEST_F(SessionTest, TypesAsWrittenWhateverTheLocksAndPutsBackOnlyWhatItChanged) {
  struct Row {
    const char *what;
    uint8_t flags;
    const char *button, *sends;
    uint8_t answer;
    const char *closing;
  } rows[] = {
      {"e, Caps Lock on: Shift", 0x60, "e", "88 00 63 CC D4 84 12 45", 0x63, "88 00 60"},
      {"H, Caps Lock on: no Shift", 0x60, "H", "CC D4 84 23 48", 0x60, ""},
      {"!, Caps Lock on: Shift", 0x60, "exclaim", "88 00 63 CC D4 84 02 31", 0x63, "88 00 60"},
      {"Ctrl+Z, Caps Lock on", 0x60, "undo", "88 00 64 CC D4 84 2C 5A", 0x64, "88 00 60"},
      {"e, Caps Lock off", 0x20, "e", "CC D4 84 12 45", 0x20, ""},
      {"H, Caps Lock off", 0x20, "H", "88 00 23 CC D4 84 23 48", 0x23, "88 00 20"},
      {"e, Insert and Caps Lock on", 0xC0, "e", "8A 00 43 CC D4 84 12 45", 0xC3, "8A 00 40"},
      {"H, Shift held by the user", 0x23, "H", "CC D4 84 23 48", 0x23, ""},
      {"e, Shift held by the user", 0x23, "e", "88 00 20 CC D4 84 12 45", 0x20, "88 00 20"},
      {"H, Ctrl held, let go meanwhile: not pressed again", 0x24, "H", "88 00 23 CC D4 84 23 48",
       0x23, "88 00 20"},
      {"H, Ctrl pressed meanwhile: left as it is", 0x20, "H", "88 00 23 CC D4 84 23 48", 0x27,
       "88 00 24"},
      {"right arrow follows what the user holds", 0x24, "right", "CC D4 84 4D 27", 0x24, ""},
  };
  for (const Row &r : rows) {
    s = {}, now = 0;
    startAnswered();
    hear(answer(r.flags));
    press(r.button);
    pass(1);
    EXPECT_EQ(sent(), r.sends) << r.what;
    // The key monitor's report and echo of the keystroke come after its FC.
    hear(answer(r.answer));
    hear(FC);
    hear({0x88, 0x00, 0x23, 0x84, 0x23, 0x48});
    pass(1);
    EXPECT_EQ(sent(), r.closing) << r.what;
  }
}

TEST_F(SessionTest, QueriesFirstOnlyWhenTheFlagsAreStale) {
  startAnswered();
  press("e"), press("e"), press("H");
  pass(1);
  EXPECT_EQ(sent(), "CC D4") << "no flags yet";
  // A report alone is no answer; an identity after an echo answers an
  // earlier identify.
  hear({0x88, 0x00, 0x60, 0x84, 0x23, 0x48});
  hear(IDENTITY);
  pass(150);
  EXPECT_EQ(sent(), "");
  hear(answer(0x20));
  pass(1);
  EXPECT_EQ(sent(), "CC D4 84 12 45");
  // A run: each key goes as soon as the one before it is done.
  hear(answer(0x20)), hear(FC), pass(1);
  EXPECT_EQ(sent(), "CC D4 84 12 45");
  hear(answer(0x20)), hear(FC), pass(1);
  EXPECT_EQ(sent(), "88 00 23 CC D4 84 23 48");
  hear(answer(0x23)), hear(FC), pass(1);
  EXPECT_EQ(sent(), "88 00 20");
  // After a pause a letter queries first; a key without modifiers does not.
  pass(101);
  press("right");
  pass(1);
  EXPECT_EQ(sent(), "CC D4 84 4D 27");
  hear(answer(0x20)), hear(FC);
  pass(101);
  press("e");
  pass(1);
  EXPECT_EQ(sent(), "CC D4");
}

TEST_F(SessionTest, NoFcIdentifiesAgainAndGoesOnWithoutResending) {
  now = 65000;  // the millisecond clock wraps around on the way
  startAnswered();
  press("right"), press("left");
  pass(1);
  EXPECT_EQ(sent(), "CC D4 84 4D 27");
  pass(399);
  EXPECT_EQ(sent(), "");
  pass(1);
  EXPECT_EQ(sent(), "D4");
  pass(1000);
  EXPECT_EQ(sent(), "D4");
  hear(IDENTITY);
  pass(1599);  // until 3 s after the keystroke an FC may still come
  EXPECT_EQ(sent(), "");
  pass(2);
  EXPECT_EQ(sent(), "CC D4 84 4B 25");
}

TEST_F(SessionTest, AnFcHeldBackPastTheIdentityStillEndsTheKeystroke) {
  startAnswered();
  press("right"), press("left");
  pass(401);
  EXPECT_EQ(sent(), "CC D4 84 4D 27 D4");
  pass(200);
  hear(IDENTITY);
  pass(1600);
  EXPECT_EQ(sent(), "") << "no keystroke while the FC is held back";
  hear(FC);
  pass(1);
  EXPECT_EQ(sent(), "CC D4 84 4B 25");
}

TEST_F(SessionTest, TheClosingOwedWhenNoFcCameGoesFromAFreshAnswer) {
  startAnswered();
  hear(answer(0x20));
  press("H");
  pass(1);
  EXPECT_EQ(sent(), "88 00 23 CC D4 84 23 48");
  pass(400);
  EXPECT_EQ(sent(), "D4");
  hear(IDENTITY);  // the program restarted: Shift is up
  pass(2600);
  EXPECT_EQ(sent(), "CC D4");
  hear(answer(0x20));
  pass(1);
  EXPECT_EQ(sent(), "88 00 20");
}

TEST_F(SessionTest, PressesOlderThanThreeSecondsAreDroppedWhileTheProgramIsSilent) {
  session_start(&s, now);
  press("right");
  pass(2500);
  press("left");
  pass(1000);
  hear(IDENTITY);
  sent();
  pass(1);
  EXPECT_EQ(sent(), "CC D4 84 4B 25") << "only the press of the last 3 s";
}

TEST_F(SessionTest, QueueKeepsThirtyTwoPressesInOrderAndDropsTheRest) {
  session_start(&s, now);
  for (int i = 0; i < 40; i++) press(i % 2 ? "right" : "left");
  hear(IDENTITY);
  sent();
  std::string typed;
  for (int i = 0; i < 40; i++) {
    pass(1);
    std::string bytes = sent();
    typed += bytes == "CC D4 84 4B 25" ? "L" : bytes == "CC D4 84 4D 27" ? "R" : bytes;
    hear(FC);
  }
  EXPECT_EQ(typed, "LRLRLRLRLRLRLRLRLRLRLRLRLRLRLRLR");
}

}  // namespace
