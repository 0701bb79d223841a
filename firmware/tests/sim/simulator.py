"""The firmware in the simulator harness, and a stand-in for the program on
the harness's pty, for the firmware's tests.

Simulator runs avr-sim (paths from the environment CTest sets) and drives it
a step at a time. Program plays the PC program's side as its poll cycle
does: every 200 ms of the simulator's time it takes what has arrived, one
keystroke at most, answers in order, and types into a keyboard whose lock
and modifier keys it tracks, as the PC would: a flag request sets all eight
bits, and a letter comes in upper case when Shift or Caps Lock, not both,
is on. Its key monitor echoes the keys it types and reports changed flags
between cycles, as the program does when its own window has the focus.
"""
import os
import re
import select
import subprocess
import termios
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
# The modifier flags' keys, in the order the program drives them: (bit, (scan code, vk)).
ROWS = [(0x80, (0x52, 0x2D)), (0x40, (0x3A, 0x14)), (0x20, (0x45, 0x90)), (0x10, (0x46, 0x91)),
        (0x08, (0x38, 0x12)), (0x04, (0x1D, 0x11)), (0x02, (0x2A, 0x10)), (0x01, (0x2A, 0x10))]


def buttons_for(text):
    """The pin map's button names that type a text."""
    return [BUTTON_OF.get(c, c) for c in text]


class Simulator:
    def __init__(self, folder, paced=False):
        self.link = os.path.join(folder, "com1")
        args = [AVR_SIM, "--link", self.link, "--pins", PIN_MAP, "--trace", ELF]
        self.process = subprocess.Popen(args + ([] if paced else ["--unpaced"]),
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.pending = b""
        self.trace = []  # (ms, ">" to the PC or "<" to the chip or "x" dropped, byte)
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
            byte = re.match(r"\s*([\d.]+) (->|<-) ([0-9A-F]{2})( dropped)?$", line)
            if byte:
                kind = "x" if byte.group(4) else ">" if byte.group(2) == "->" else "<"
                self.trace.append((float(byte.group(1)), kind, int(byte.group(3), 16)))
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
        messages, current = [], []
        for ms, kind, byte in self.trace:
            if kind != ">":
                continue
            current = [byte] if byte & 0x80 else current + [byte]
            if byte & 0x40 or len(current) == 3:
                messages.append((ms, bytes(current)))
                current = []
        return messages


class Program:
    """The program's side: opens the port, polls it every tick, answers."""

    def __init__(self, sim, flags=NUM_LOCK, silent_ms=0):
        self.sim = sim
        self.toggles, self.held = flags & 0xF0, flags & 0x0F
        self.typed = ""  # a chord as "<ctrl+Z>"
        self.lock_presses = 0
        self.lose_fcs = 0  # the next this many FCs are not written
        self.fd = None
        self.open(silent_ms)

    # ---- the port ---------------------------------------------------------

    def open(self, silent_ms):
        """Opens the port; polling starts after silent_ms (the start-up notice)."""
        self.fd = os.open(self.sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        # 9600 8O1, as the program sets it: a pty keeps only the odd-parity flag.
        line = termios.tcgetattr(self.fd)
        self.found_parity = bool(line[2] & termios.PARODD)
        line[2] |= termios.PARENB | termios.PARODD
        termios.tcsetattr(self.fd, termios.TCSANOW, line)
        self.sim.wait(0)  # the harness sees the port held from here
        self.base, self.read_count = self.sim.to_pc, 0
        self.slots, self.count = [0, 0, 0], 0  # the receive buffer, as the program keeps it
        self.waiting = b""
        self.last_reported = 0
        self.polls_from = self.sim.t + silent_ms
        self.written = 0

    def restart(self, silent_ms=11000):
        os.close(self.fd)
        self.sim.wait(0)  # the harness drops what was left unread
        self.open(silent_ms)

    def _read(self):
        """Takes what the harness has passed on by now. A read every tick, as
        the program's, finds a port that has gone."""
        deadline = time.monotonic() + 5
        while True:
            try:
                chunk = os.read(self.fd, 4096)
                if not chunk:
                    raise OSError("the port has hung up")
                self.waiting += chunk
                self.read_count += len(chunk)
            except BlockingIOError:
                pass
            if self.read_count >= self.sim.to_pc - self.base:
                return
            assert time.monotonic() < deadline, \
                f"{self.read_count} of {self.sim.to_pc - self.base} bytes came through the pty"
            select.select([self.fd], [], [], 0.01)

    def _write(self, data):
        if data:
            os.write(self.fd, data)
            self.written += len(data)
            self.sim.step(f"sync {self.written}")

    # ---- the keyboard -----------------------------------------------------

    def flags(self):
        return self.toggles | self.held

    def _apply(self, desired, events):
        """Drives the keys to a flag request, row by row as the program does;
        both Shift bits drive the one Shift key."""
        current = self.flags()
        for bit, key in ROWS:
            if not (desired ^ current) & bit:
                continue
            if bit & 0xF0:
                self.toggles ^= bit
                self.lock_presses += 1
                events += [(key, True), (key, False)]
                continue
            keys = SHIFT if bit & SHIFT else bit
            self.held = self.held | keys if desired & bit else self.held & ~keys
            events.append((key, bool(desired & bit)))

    def _type(self, scan, vk, events):
        shifted = bool(self.held & SHIFT) != (0x41 <= vk <= 0x5A and bool(self.toggles & CAPS_LOCK))
        character = CHARACTERS.get(vk, (f"<{vk:02X}>",) * 2)[shifted]
        chord = [name for bit, name in ((CTRL, "ctrl"), (ALT, "alt")) if self.held & bit]
        self.typed += f"<{'+'.join(chord)}+{character.upper()}>" if chord else character
        events += [((scan, vk), True), ((scan, vk), False)]

    # ---- the poll cycle ---------------------------------------------------

    def _cycle(self):
        """One poll cycle over what waits; returns the bytes it writes."""
        out, events = b"", []
        while self.waiting:
            byte, self.waiting = self.waiting[0], self.waiting[1:]
            self.slots[self.count] = byte
            self.count += 1
            if not (self.count == 1 and byte & 0x40) and self.count != 3:
                continue
            self.count = 0
            command = (self.slots[0] >> 2) & 0x0F
            data1 = self.slots[1] | (self.slots[0] & 1) << 7
            data2 = self.slots[2] | (self.slots[0] & 2) << 6
            if command in (1, 4):
                self._type(data1, data2, events)
                if self.lose_fcs:
                    self.lose_fcs -= 1
                else:
                    out += b"\xFC"
                break
            if command == 2:
                self._apply(data2, events)
            elif command == 3:
                out += encode(2, 0, self.flags())
            elif command == 5:
                out += encode(6, 2, 34)
        return out, events

    def _monitor(self, events):
        """The key monitor, as the program takes the key messages after a cycle."""
        out = b""
        for key, down in events:
            if self.flags() != self.last_reported:
                self.last_reported = self.flags()
                out += encode(2, 0, self.last_reported)
            if down:
                out += encode(1, *key)
        return out

    def _lose_port(self):
        """A failed read or write: the program lets go of Alt, Ctrl and Shift
        and tries to open the port again about once a second."""
        os.close(self.fd)
        self.fd = None
        self.held = 0
        self.ticks_closed = 0

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
            if self.fd is None:
                self.ticks_closed += 1
                if self.ticks_closed % 5 == 0 and os.path.exists(self.sim.link):
                    self.open(0)
                continue
            try:
                self._read()
                if self.sim.t < self.polls_from:
                    continue
                out, events = self._cycle()
                self._write(out + self._monitor(events))
            except OSError:
                self._lose_port()
        assert not buttons, "more buttons than ticks"


def encode(command, data1, data2):
    return bytes([0x80 | command << 2 | data1 >> 7 | (data2 >> 7) << 1, data1 & 0x7F,
                  data2 & 0x7F])
