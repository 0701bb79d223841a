#include "app/notice.h"
#include "fixture.h"
#include "res/resource.h"
#include "shared/texts.h"

namespace {

class NoticeTest : public ProgramTest {
 protected:
  HWND dialog = sim::dialogHandle();
  void show() {
    DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_NOTICE), nullptr, noticeDialogProc, 0);
  }
  std::vector<std::string> &countdown() { return sim::windows().dialogTexts[IDC_NOTICE_COUNTDOWN]; }
};

TEST_F(NoticeTest, CountsDownElevenTicksThenCloses) {
  show();
  sim::Windows &w = sim::windows();
  EXPECT_EQ(countdown(), (std::vector<std::string>{"0:10", "0:09", "0:08", "0:07", "0:06", "0:05",
                                                   "0:04", "0:03", "0:02", "0:01", "0:00"}));
  EXPECT_TRUE(w.dialogEnded);
  ASSERT_EQ(w.timersSet.size(), 1u);
  EXPECT_EQ(w.timersSet[0].elapse, 1000u);
  EXPECT_EQ(pollTimerId, w.timersSet[0].id);
  EXPECT_TRUE(w.activeTimers.empty());
}

TEST_F(NoticeTest, OkEscAndCloseBoxCloseAtOnce) {
  for (WPARAM button : {(WPARAM)IDOK, (WPARAM)IDCANCEL}) {
    for (int after : {0, 4}) {
      SCOPED_TRACE(testing::Message() << "button " << button << " after " << after);
      SetUp();
      sim::windows().dialogPress = button;
      sim::windows().dialogPressAfter = after;
      show();
      EXPECT_EQ(countdown().size(), (size_t)after);
      EXPECT_TRUE(sim::windows().dialogEnded);
      EXPECT_TRUE(sim::windows().activeTimers.empty());
    }
  }
}

}  // namespace
