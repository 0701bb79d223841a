#include "port/port.h"
#include "fixture.h"
#include "shared/texts.h"

namespace {

using sim::PortKind;
using sim::SetupStep;
typedef std::vector<std::string> Names;

class PortTest : public ProgramTest {
 protected:
  void ports(std::initializer_list<std::pair<int, PortKind>> kinds) {
    for (auto &k : kinds) sim::port(k.first).kind = k.second;
  }
  std::string chosen(char c) {
    LPCSTR name = findPort(c);
    return name ? name : "none";
  }
};

TEST_F(PortTest, ChoosesRequestedPortElseFirstFreeOfFour) {
  struct Row {
    const char *what;
    char request;
    std::vector<std::pair<int, PortKind>> kinds;
    std::string expected;
    Names probed;
  };
  const Row rows[] = {
      {"no request, COM1 free", 0, {{1, PortKind::Free}}, "COM1", {"COM1"}},
      {"no request, COM1 busy",
       0,
       {{1, PortKind::Busy}, {2, PortKind::Free}},
       "COM2",
       {"COM1", "COM2"}},
      {"request 3 free", '3', {{1, PortKind::Free}, {3, PortKind::Free}}, "COM3", {"COM3"}},
      {"request 7 absent", '7', {{2, PortKind::Free}}, "COM2", {"COM7", "COM1", "COM2"}},
      {"request 3 busy, nothing else",
       '3',
       {{3, PortKind::Busy}},
       "none",
       {"COM3", "COM1", "COM2", "COM3", "COM4"}},
      {"request 9", '9', {{9, PortKind::Free}}, "COM9", {"COM9"}},
      {"COM5 is never searched",
       0,
       {{5, PortKind::Free}},
       "none",
       {"COM1", "COM2", "COM3", "COM4"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    for (auto &k : row.kinds) sim::port(k.first).kind = k.second;
    EXPECT_EQ(chosen(row.request), row.expected);
    EXPECT_EQ(sim::openAttempts(), row.probed);
    // A probe leaves no port open behind it.
    for (int n = 1; n <= 9; n++) EXPECT_FALSE(sim::port(n).open) << n;
  }
}

// The port as another program left it, every byte of its settings 0x00 or
// 0xFF: the line comes out right either way, and what the program does not
// set stays as the port reported it. A handshake line (RTS or DTR in a
// handshake or toggle mode) becomes plainly raised; one disabled or raised
// stays so.
TEST_F(PortTest, SetsTheLineAndLeavesTheRest) {
  struct Row {
    int fill, rts, dtr, rtsAfter, dtrAfter;
  };
  const Row rows[] = {
      {0x00, RTS_CONTROL_DISABLE, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, DTR_CONTROL_DISABLE},
      {0xFF, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE},
      {0xFF, RTS_CONTROL_HANDSHAKE, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE},
      {0x00, RTS_CONTROL_TOGGLE, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, DTR_CONTROL_DISABLE},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "settings filled with 0x" << std::hex << row.fill << ", rts "
                                    << row.rts << ", dtr " << row.dtr);
    SetUp();
    ports({{2, PortKind::Free}});
    sim::Port &port = sim::port(2);
    std::memset(&port.dcb, row.fill, sizeof port.dcb);
    port.dcb.fRtsControl = row.rts;
    port.dcb.fDtrControl = row.dtr;
    const DCB before = port.dcb;

    ASSERT_TRUE(openPort("COM2"));
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.inQueue, 2048u);
    EXPECT_EQ(port.outQueue, 1024u);

    // The line as the device speaks it; every byte value passes and nothing
    // can hold the program's writes. The rest stays as the port had it:
    // parity checking among it, which the program must not switch on.
    DCB expected = before;
    expected.BaudRate = 9600;
    expected.ByteSize = 8;
    expected.Parity = ODDPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.fBinary = 1;
    expected.fOutX = expected.fInX = expected.fNull = expected.fErrorChar = 0;
    expected.fAbortOnError = expected.fOutxCtsFlow = expected.fOutxDsrFlow = 0;
    expected.fDsrSensitivity = 0;
    expected.fRtsControl = row.rtsAfter;
    expected.fDtrControl = row.dtrAfter;
    EXPECT_EQ(std::memcmp(&expected, &port.dcb, sizeof expected), 0);
    const COMMTIMEOUTS timeouts = {25, 1, 25, 0, 0};
    EXPECT_EQ(std::memcmp(&timeouts, &port.timeouts, sizeof timeouts), 0);
    EXPECT_TRUE(sim::windows().messageBoxes.empty());
  }
}

TEST_F(PortTest, SetupFailures) {
  struct Row {
    const char *what;
    PortKind kind;
    SetupStep failing;
    std::string message;  // empty: none
    bool leftOpen;
  };
  const Row rows[] = {
      {"cannot open", PortKind::Busy, SetupStep::None, TEXT_PORT_NOT_OPENED, false},
      {"queue sizes", PortKind::Free, SetupStep::SetupComm, "", true},
      {"reading settings", PortKind::Free, SetupStep::GetCommState, "", true},
      {"line settings", PortKind::Free, SetupStep::SetCommState, TEXT_LINE_REFUSED, false},
      {"time-outs", PortKind::Free, SetupStep::SetCommTimeouts, "", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    sim::port(1).kind = row.kind;
    sim::port(1).failing = row.failing;
    EXPECT_FALSE(openPort("COM1"));
    auto &boxes = sim::windows().messageBoxes;
    if (row.message.empty()) {
      EXPECT_TRUE(boxes.empty());
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, row.message);
      EXPECT_EQ(boxes[0].caption, ERROR_BOX_TITLE);
      EXPECT_EQ(boxes[0].type, (UINT)(MB_OK | MB_ICONEXCLAMATION));
      EXPECT_EQ(boxes[0].owner, nullptr);
    }
    EXPECT_EQ(sim::port(1).open, row.leftOpen);
  }
}

}  // namespace
