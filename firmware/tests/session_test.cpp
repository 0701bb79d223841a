// The session against a scripted program: what the device writes, tick by
// tick, as answers come or do not. (The firmware's tests in the simulator
// cover start-up, the order of keystrokes and the lost FCs of whole runs.)
#include <gtest/gtest.h>

#include "hex.h"

#include <string>
#include <vector>

#include "session.h"

namespace {

std::vector<uint8_t> written;

const std::vector<uint8_t> FC = {0xFC}, IDENTITY = {0x98, 0x02, 0x22};

// The buttons of the pin map that type with Shift, or without.
std::vector<uint8_t> buttons(bool shifted) {
  std::vector<uint8_t> found;
  for (uint8_t b = 0; b < BUTTON_COUNT; b++) {
    key k;
    key_of_button(b, &k);
    if (k.shifted == shifted) found.push_back(b);
  }
  return found;
}

std::string keystroke(uint8_t button) {
  key k;
  key_of_button(button, &k);
  return hex({uint8_t(0x84 | k.scan >> 7 | (k.vk >> 7) << 1), uint8_t(k.scan & 0x7F),
              uint8_t(k.vk & 0x7F)});
}

class SessionTest : public testing::Test {
 protected:
  session s = {};
  uint16_t now = 0;
  uint8_t plain = buttons(false).at(0), plain2 = buttons(false).at(1);
  uint8_t capital = buttons(true).at(0);

  void SetUp() override { written.clear(); }
  void pass(int ms) {
    while (ms-- > 0) session_tick(&s, ++now);
  }
  void hear(const std::vector<uint8_t> &bytes) {
    for (uint8_t b : bytes) session_receive(&s, b, now);
  }
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

TEST_F(SessionTest, CapitalHoldsShiftAroundTheKeyAndPutsTheFlagsBack) {
  struct Row {
    const char *what;
    std::vector<uint8_t> answer;
    const char *request, *restore;
  } rows[] = {
      {"Num Lock on", {0x88, 0x00, 0x20}, "88 00 23", "88 00 20"},
      {"Insert and Caps Lock on", {0x8A, 0x00, 0x40}, "8A 00 43", "8A 00 40"},
      {"Ctrl held", {0x88, 0x00, 0x04}, "88 00 07", "88 00 04"},
  };
  for (const Row &r : rows) {
    s = {}, now = 0;
    startAnswered();
    session_press(&s, capital);
    pass(1);
    EXPECT_EQ(sent(), "CC D4") << r.what;
    // Before the answer: the key monitor's report of an earlier Shift and
    // the echo of a key (written between poll cycles), and a surplus
    // identity, which answers an earlier identify and no query.
    hear({0x88, 0x00, 0x23, 0x84, 0x2A, 0x10, 0x98, 0x02, 0x22});
    pass(150);
    EXPECT_EQ(sent(), "") << r.what;
    hear(r.answer);
    hear(IDENTITY);
    EXPECT_EQ(sent(), std::string(r.request) + " " + keystroke(capital)) << r.what;
    hear(FC);
    EXPECT_EQ(sent(), r.restore) << r.what;
  }
}

TEST_F(SessionTest, NoFcIdentifiesAgainAndGoesOnWithoutResending) {
  now = 65000;  // the millisecond clock wraps around on the way
  startAnswered();
  session_press(&s, plain);
  session_press(&s, plain2);
  pass(1);
  EXPECT_EQ(sent(), keystroke(plain));
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
  EXPECT_EQ(sent(), keystroke(plain2));
}

TEST_F(SessionTest, AnFcHeldBackPastTheIdentityStillEndsTheKeystroke) {
  startAnswered();
  session_press(&s, plain);
  session_press(&s, plain2);
  pass(401);
  EXPECT_EQ(sent(), keystroke(plain) + " D4");
  pass(200);
  hear(IDENTITY);
  pass(1600);
  EXPECT_EQ(sent(), "") << "no keystroke while the FC is held back";
  hear(FC);
  pass(1);
  EXPECT_EQ(sent(), keystroke(plain2));
}

TEST_F(SessionTest, QueueKeepsThirtyTwoPressesInOrderAndDropsTheRest) {
  session_start(&s, now);
  for (int i = 0; i < 40; i++) session_press(&s, uint8_t(i % 2 ? plain : plain2));
  hear(IDENTITY);
  sent();
  std::string expected, typed;
  for (int i = 0; i < 32; i++) {
    expected += (i ? " " : "") + keystroke(i % 2 ? plain : plain2);
    pass(1);
    typed += (i ? " " : "") + sent();
    hear(FC);
  }
  pass(1000);
  EXPECT_EQ(typed, expected);
  EXPECT_EQ(sent(), "");
  EXPECT_EQ(s.presses_dropped, 8);
}

}  // namespace
