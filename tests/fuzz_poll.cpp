// Coverage-guided fuzzing of the poll cycle and the decoder under it: any
// byte stream, split across ticks anywhere, must keep the receive buffer in
// range, acknowledge at most one keystroke per tick, and answer only with
// well-formed messages. Built by the "fuzz" preset (clang, libFuzzer).
#include <algorithm>
#include <cstdlib>

#include "keys/modifier_flags.h"
#include "link/message.h"
#include "link/poll.h"
#include "port/port.h"
#include "program_state.h"
#include "shared/state.h"
#include "sim/sim.h"

namespace {
const DWORD TICK_MS = 200;  // the program's poll interval

void require(bool condition) {
  if (!condition) std::abort();
}

// Every reply the program sends: FC alone, or a three-byte flags or identity
// message whose data bytes have bit 7 clear.
void requireWellFormed(const std::vector<BYTE> &out) {
  for (size_t i = 0; i < out.size(); i++) {
    if (out[i] == 0xFC) continue;
    require((out[i] & 0xFC) == 0x88 || out[i] == 0x98);
    require(i + 2 < out.size() && !(out[i + 1] & 0x80) && !(out[i + 2] & 0x80));
    i += 2;
  }
}
}  // namespace

// The first byte sets the lock keys' toggles; each later byte goes to the
// device's stream, and a tick runs whenever the stream so far holds as many
// bytes as the low three bits of the byte that starts the batch. Ticks come
// 200 ms apart, as the program's timer brings them, and meanwhile the line
// carries its answers: a cycle that found the output queue full reads again
// at a later tick, as the program does.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  resetProgramState();
  sim::reset();
  sim::port(1).kind = sim::PortKind::Free;
  if (!openPort(findPort('1'))) std::abort();
  if (size == 0) return 0;
  const int lockKeys[4] = {VK_INSERT, VK_CAPITAL, VK_NUMLOCK, VK_SCROLL};
  for (int i = 0; i < 4; i++) {
    bool on = data[0] & (0x80 >> i);
    sim::setAsyncKey(lockKeys[i], false, on);
    sim::setThreadKey(lockKeys[i], false, on);
  }

  sim::Port &port = sim::port(1);
  size_t i = 1;
  while (i < size || !port.input.empty()) {
    size_t batch = i < size ? (data[i] & 7) + 1 : 0;
    for (; batch > 0 && i < size; batch--) sim::deviceSends(1, {data[i++]});
    size_t acknowledged = std::count(port.output.begin(), port.output.end(), 0xFC);
    DWORD began = GetTickCount();
    pollLink();
    DWORD took = GetTickCount() - began;
    sim::advanceClock(took < TICK_MS ? TICK_MS - took : 1);
    sim::takeKeyMessages();
    require(receiveBuffer.count >= 0 && receiveBuffer.count <= 2);
    require(std::count(port.output.begin(), port.output.end(), 0xFC) - acknowledged <= 1);
  }
  requireWellFormed(port.output);
  return 0;
}
