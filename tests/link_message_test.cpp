#include "fixture.h"

namespace {

class LinkMessageTest : public ProgramTest {};

TEST_F(LinkMessageTest, EncodesEachMessageAsOneWrite) {
  struct Row {
    const char *what;
    int command;
    bool threeByte;
    int data1, data2;
    Bytes expected;
  };
  const Row rows[] = {
      {"key done", CMD_KEY_DONE, false, 0, 0, {0xFC}},
      {"key done ignores data", CMD_KEY_DONE, false, 0xFF, 0xFF, {0xFC}},
      {"identity", CMD_IDENTITY, true, 2, 34, {0x98, 0x02, 0x22}},
      {"key A", CMD_KEY_STROKE, true, 0x1E, 0x41, {0x84, 0x1E, 0x41}},
      {"vk with bit 7", CMD_KEY_STROKE, true, 0x27, 0xBA, {0x86, 0x27, 0x3A}},
      {"scan with bit 7", CMD_KEY_STROKE, true, 0x9E, 0x41, {0x85, 0x1E, 0x41}},
      {"sys key F4", CMD_SYS_KEY_STROKE, true, 0x3E, 0x73, {0x90, 0x3E, 0x73}},
      {"flags 0x00", CMD_MODIFIER_FLAGS, true, 0, 0x00, {0x88, 0x00, 0x00}},
      {"flags 0xC0", CMD_MODIFIER_FLAGS, true, 0, 0xC0, {0x8A, 0x00, 0x40}},
      {"only low 8 bits", CMD_KEY_STROKE, true, 0x11E, 0x241, {0x84, 0x1E, 0x41}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    sim::Port &port = openCom1();
    sendMessage(row.command, row.threeByte, row.data1, row.data2);
    EXPECT_EQ(port.output, row.expected);
    EXPECT_EQ(port.writes, 1);
    sim::reset();
  }
}

// Feeds bytes one at a time as the poll cycle does; returns the messages.
std::vector<LinkMessage> decode(const Bytes &bytes, std::vector<int> *completedAt = nullptr) {
  std::vector<LinkMessage> messages;
  for (size_t i = 0; i < bytes.size(); i++) {
    receiveBuffer.slot[receiveBuffer.count] = bytes[i];
    LinkMessage message;
    if (decodeStep(&message)) {
      messages.push_back(message);
      if (completedAt) completedAt->push_back((int)i);
    }
  }
  return messages;
}

testing::AssertionResult is(const LinkMessage &m, int command, int data1, int data2) {
  if (m.command == command && m.data1 == data1 && m.data2 == data2)
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "got command " << m.command << " data " << (int)m.data1 << "," << (int)m.data2;
}

// One message each: it completes on its last byte and leaves the buffer empty.
TEST_F(LinkMessageTest, DecodesOneMessageOnItsLastByte) {
  struct Row {
    const char *what;
    Bytes bytes;
    int command, data1, data2;
  };
  const Row rows[] = {
      {"key A", {0x84, 0x1E, 0x41}, CMD_KEY_STROKE, 0x1E, 0x41},
      {"header bits restore the data's top bits", {0x87, 0x1E, 0x3A}, CMD_KEY_STROKE, 0x9E, 0xBA},
      {"a data byte with bit 7 keeps it", {0x84, 0x9E, 0xC1}, CMD_KEY_STROKE, 0x9E, 0xC1},
      {"one-byte form", {0xFC}, CMD_KEY_DONE, 0, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    std::vector<int> completedAt;
    auto messages = decode(row.bytes, &completedAt);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(completedAt, std::vector<int>{(int)row.bytes.size() - 1});
    EXPECT_TRUE(is(messages[0], row.command, row.data1, row.data2));
    EXPECT_EQ(receiveBuffer.count, 0);
  }
}

TEST_F(LinkMessageTest, NoSynchronisation) {
  // 00 is a header of command 0 in the three-byte form: it swallows the
  // following key message's first two bytes; 41, taken as a header, has
  // bit 6 set and is a one-byte message of its own.
  auto messages = decode({0x00, 0x84, 0x1E, 0x41, 0x84});
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(is(messages[0], 0, 0x84, 0x1E));
  EXPECT_TRUE(is(messages[1], 0, 0x84, 0x1E));
  EXPECT_EQ(receiveBuffer.count, 1);
}

TEST_F(LinkMessageTest, OneByteMessagesTakeStaleData) {
  auto messages = decode({0xCC, 0x84, 0x1E, 0x41, 0xCC, 0xC4, 0xCF});
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_TRUE(is(messages[0], CMD_QUERY_MODIFIERS, 0, 0));  // nothing received yet
  EXPECT_TRUE(is(messages[2], CMD_QUERY_MODIFIERS, 0x1E, 0x41));
  EXPECT_TRUE(is(messages[3], CMD_KEY_STROKE, 0x1E, 0x41));
  EXPECT_TRUE(is(messages[4], CMD_QUERY_MODIFIERS, 0x9E, 0xC1));  // header bits ORed in
}

}  // namespace
