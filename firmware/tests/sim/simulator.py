"""The firmware in the simulator harness, and a stand-in for the program on
the harness's pty, for the firmware's tests.

Simulator runs avr-sim (paths from the environment CTest sets) and drives it
a step at a time. Program plays the PC program's side as its poll cycle
does: every 200 ms of the simulator's time it takes what has arrived, one
keystroke at most, answers in order, and types into a keyboard whose lock
and modifier keys it tracks, as the PC would: a flag request sets all eight
bits, and a letter comes in upper case when Shift or Caps Lock, not both,
is on.
"""
import os
import re
import select
import subprocess
import time
import tty

AVR_SIM = os.environ.get("AVR_SIM", "build/native/tools/avr-sim/avr-sim")
ELF = os.environ.get("FIRMWARE_ELF", "build/native/avr/firmware/talliver-firmware.elf")
PIN_MAP = os.environ.get("FIRMWARE_PIN_MAP", "build/native/avr/firmware/PINMAP.txt")
TICK_MS = 200
SHIFT, CTRL, ALT, NUM_LOCK, CAPS_LOCK = 0x03, 0x04, 0x08, 0x20, 0x40
STEP_LIMIT_S = 30

# What a key types, by virtual-key code: (without Shift, with Shift).
CHARACTERS = {0x20: (" ", " "), 0xBC: (",", "<"), 0x31: ("1", "!"), 0x0D: ("\n", "\n")}
CHARACTERS.update({vk: (chr(vk).lower(), chr(vk)) for vk in range(0x41, 0x5B)})
BUTTON_OF = {" ": "space", ",": "comma", "!": "exclaim"}


def buttons_for(text):
    """The pin map's button names that type a text."""
    return [BUTTON_OF.get(c, c) for c in text]


class Simulator:
    def __init__(self, folder):
        self.link = os.path.join(folder, "com1")
        args = [AVR_SIM, "--link", self.link, "--pins", PIN_MAP, "--trace", "--unpaced", ELF]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.pending = b""
        self.trace = []  # (ms, byte) of each byte that reached the PC side
        self.t = 0.0
        self.to_pc = 0
        assert " -> /dev/pts/" in self._line(), "the harness did not start"

    def _line(self):
        deadline = time.monotonic() + STEP_LIMIT_S
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            assert left > 0 and select.select([self.process.stdout], [], [], left)[0], \
                "the harness said nothing"
            chunk = os.read(self.process.stdout.fileno(), 65536)
            assert chunk, "the harness ended"
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode()

    def step(self, text):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()
        while True:
            line = self._line()
            byte = re.match(r"\s*([\d.]+) -> ([0-9A-F]{2})$", line)
            if byte:
                self.trace.append((float(byte.group(1)), int(byte.group(2), 16)))
                continue
            assert not line.startswith("step failed"), line
            done = re.match(r"step done: .* \(t=([\d.]+) ms, from PC \d+, to PC (\d+)\)", line)
            if done:
                self.t, self.to_pc = float(done.group(1)), int(done.group(2))
                return

    def wait(self, ms):
        self.step(f"wait {ms}")

    def quit(self):
        self.step("quit")
        summary = self._line()
        assert self.process.wait(timeout=10) == 0
        return summary

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def device_messages(self):
        """Messages the chip sent and the PC side got: (ms of the last byte, bytes)."""
        return [(self.trace[end - 1][0], m) for end, m in messages([b for _, b in self.trace])]


class Program:
    """The program's side: opens the port, polls it every tick, answers."""

    def __init__(self, sim, flags=NUM_LOCK, silent_ms=0):
        self.sim = sim
        self.toggles, self.held = flags & 0xF0, flags & 0x0F
        self.typed = ""  # a chord as "<ctrl+Z>"
        self.lock_presses = 0
        self.fd = os.open(sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        sim.wait(0)  # the harness sees the port held from here
        self.base, self.read, self.written = sim.to_pc, b"", b""
        self.polled = 0  # bytes of self.read taken by a poll cycle
        self.polls_from = sim.t + silent_ms  # after the start-up notice

    def _read(self):
        """Takes what the harness has passed on by now."""
        deadline = time.monotonic() + 5
        while len(self.read) < self.sim.to_pc - self.base:
            assert time.monotonic() < deadline, "bytes lost on the pty"
            try:
                self.read += os.read(self.fd, 4096)
            except BlockingIOError:
                select.select([self.fd], [], [], 0.01)

    def flags(self):
        return self.toggles | self.held

    def _apply(self, desired):
        """Sets the keys to a flag request: a lock key is pressed to toggle
        it, both Shift bits drive the one Shift key."""
        for bit in (0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01):
            if not (desired ^ self.flags()) & bit:
                continue
            if bit & 0xF0:
                self.toggles ^= bit
                self.lock_presses += 1
                continue
            keys = SHIFT if bit & SHIFT else bit
            self.held = self.held | keys if desired & bit else self.held & ~keys

    def _type(self, vk):
        shifted = bool(self.held & SHIFT) != (0x41 <= vk <= 0x5A and bool(self.toggles & CAPS_LOCK))
        character = CHARACTERS.get(vk, (f"<{vk:02X}>",) * 2)[shifted]
        chord = [name for bit, name in ((CTRL, "ctrl"), (ALT, "alt")) if self.held & bit]
        self.typed += f"<{'+'.join(chord)}+{character.upper()}>" if chord else character

    def _cycle(self):
        """One poll cycle over what waits, one keystroke at most; returns the
        bytes it writes."""
        out, start = b"", self.polled
        for end, m in messages(self.read[start:]):
            self.polled = start + end
            command = (m[0] >> 2) & 0x0F
            data2 = m[-1] | (m[0] & 2) << 6
            if command in (1, 4):
                self._type(data2)
                return out + b"\xFC"
            if command == 2:
                self._apply(data2)
            elif command == 3:
                out += encode(2, 0, self.flags())
            elif command == 5:
                out += encode(6, 2, 34)
        return out

    def run(self, ms, buttons=()):
        """Lets ms pass a tick at a time, tapping a button at the start of each
        tick while there are buttons left."""
        buttons = list(buttons)
        for _ in range(0, ms, TICK_MS):
            if buttons:
                self.sim.step(f"tap {buttons.pop(0)}")
                self.sim.wait(TICK_MS - 100)
            else:
                self.sim.wait(TICK_MS)
            self._read()
            if self.sim.t < self.polls_from:
                continue
            out = self._cycle()
            if out:
                os.write(self.fd, out)
                self.written += out
                self.sim.step(f"sync {len(self.written)}")
        assert not buttons, "more buttons than ticks"


def messages(data):
    """The whole messages in data: (offset just past the message, its bytes)."""
    found, start = [], None
    for i, byte in enumerate(data):
        start = i if byte & 0x80 else start
        if start is not None and (i == start and byte & 0x40 or i == start + 2):
            found.append((i + 1, bytes(data[start:i + 1])))
            start = None
    return found


def encode(command, data1, data2):
    return bytes([0x80 | command << 2 | data1 >> 7 | (data2 >> 7) << 1, data1 & 0x7F,
                  data2 & 0x7F])
