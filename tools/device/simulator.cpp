#include "simulator.h"

#include <algorithm>

namespace device {

Simulator::Simulator(ProgramPort &p, Transcript &transcript, bool paced, long timeout)
    : port(p), out(transcript), line(transcript, nullptr, &p, paced), timeoutMs(timeout) {
  line.toProgram.fd = port.fd();
  line.toProgram.paced = paced;
  line.fromProgram = [this](const Bytes &bytes) {
    for (uint8_t byte : bytes) {
      auto m = decoder.feed(byte);
      if (!m) continue;
      if (!quiet)
        out.line(transcriptLine(nowUs() - startUs, "<-", hex(m->bytes), describe(*m, false)));
      if (m->command == KEY_DONE) fcMs.push_back((double)(nowUs() - startUs) / 1000);
      received.push_back(*m);
    }
  };
}

bool Simulator::waitUntil(int64_t deadlineUs, const std::function<bool()> &done, int alsoFd) {
  for (;;) {
    if (done()) return true;
    if (stopSignal || nowUs() >= deadlineUs) return false;
    line.turn(deadlineUs, alsoFd);
  }
}

void Simulator::send(const Bytes &bytes, const std::string &what) {
  line.toProgram.held.insert(line.toProgram.held.end(), bytes.begin(), bytes.end());
  line.toProgram.write(nowUs());
  if (!quiet) out.line(transcriptLine(nowUs() - startUs, "->", hex(bytes), what));
}

void Simulator::forget() {
  line.turn(0);
  received.clear();
}

bool Simulator::await(int command, long ms, Message *found) {
  return waitUntil(nowUs() + ms * 1000, [&] {
    auto it = std::find_if(received.begin(), received.end(),
                           [&](const Message &m) { return m.command == command; });
    if (it == received.end()) return false;
    if (found) *found = *it;
    received.erase(received.begin(), it + 1);
    return true;
  });
}

std::string Simulator::identify(long ms) {
  forget();
  send(encode(IDENTIFY, false), "identify");
  Message reply;
  if (!await(IDENTITY, ms, &reply)) return "no identity reply";
  if (reply.data1 == IDENTITY_DATA1 && reply.data2 == IDENTITY_DATA2) return "";
  return format("identity %d, %d; the program's is %d, %d", reply.data1, reply.data2,
                IDENTITY_DATA1, IDENTITY_DATA2);
}

std::string Simulator::keystroke(int command, const Key &key, const std::string &label) {
  forget();
  send(encode(command, true, key.scan, key.vk),
       (command == KEY_STROKE ? "key " : "system key ") + label);
  keysSent++;
  if (!await(KEY_DONE, timeoutMs)) return "no FC for key " + label;
  keysAcked++;
  return "";
}

std::string Simulator::setFlags(int flags) {
  send(encode(MODIFIER_FLAGS, true, 0, flags), format("set flags 0x%02X", flags));
  return "";
}

// The program's key monitor may send the very bytes of a query's answer
// unasked, whenever its own window has the focus. So the query goes with an
// identify: the program answers both in one poll cycle, in order, and the
// monitor cannot speak in the middle of a cycle, so the flags message right
// before the identity is the answer.
std::string Simulator::readFlags(int *flags) {
  forget();
  send(encode(QUERY_FLAGS, false), "query flags");
  send(encode(IDENTIFY, false), "identify");
  Message answer;
  if (!waitUntil(nowUs() + timeoutMs * 1000, [&] {
        auto it = std::find_if(received.begin(), received.end(),
                               [](const Message &m) { return m.command == IDENTITY; });
        if (it == received.end()) return false;
        if (it != received.begin()) answer = *(it - 1);
        received.erase(received.begin(), it + 1);
        return true;
      }))
    return "no answer to the query";
  if (answer.command != MODIFIER_FLAGS)
    return "the identity came without the flags right before it";
  *flags = answer.data2;
  return "";
}

std::string Simulator::drain() {
  Outlet &o = line.toProgram;
  if (waitUntil(nowUs() + timeoutMs * 1000, [&] {
        return o.held.empty() && nowUs() - o.wroteUs > SETTLE_US && port.unread() == 0;
      }))
    return "";
  return format(
      "%zu bytes sent were never taken by the program: it did not read its port within %ld ms",
      o.held.size() + (size_t)port.unread(), timeoutMs);
}

}  // namespace device
