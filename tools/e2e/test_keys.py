"""Keystrokes and the lock and modifier keys, as a device asks for them."""

from wine_env import wait_until


def flag_request(flags):
    """The bytes of a flag request: bit 7 of the flags travels in the header."""
    return f"{0x88 | (0x02 if flags & 0x80 else 0):02X} 00 {flags & 0x7F:02X}"


def flags_answered(device):
    """The flags of the program's last answer to a query."""
    answers = [bytes.fromhex(m) for m in device.messages("program")]
    for header, _, data2 in (m for m in reversed(answers) if len(m) == 3):
        if header & 0xFC == 0x88:
            return data2 | (header & 0x02) << 6
    raise AssertionError("expected an answer to the query, the program sent none")


def all_locks_off(device):
    """Best effort after a test that switched a lock key on: off again, and
    handled before the program closes (Wine shows a program started later a
    lock key left on as off, which would mislead the next test)."""
    try:
        device.steps("mods 00", "sleep 600")
    except Exception:
        pass


def test_flag_requests_are_absolute_and_held_keys_go_at_close(polling, program, key_target):
    d, run = polling
    key_target.start()
    # Caps Lock on and off; lock keys show in a later tick, hence the sleeps.
    d.steps("expect-flags 00", "mods 40", "sleep 600", "expect-flags 40", "mods 00", "sleep 600",
            "expect-flags 00")
    # Two identical requests in one burst: the second must not undo the first.
    d.steps("raw 88 00 40 88 00 40", "sleep 600", "expect-flags 40",
            "raw 88 00 00 88 00 00", "sleep 600", "expect-flags 00")
    # Alt and Ctrl held by the device are released when the program closes.
    d.steps("mods 0C", "sleep 600")
    program.end(run)

    def released():
        last = key_target.keys()[-2:]
        # Alt arrives as a system key while it is held; Ctrl's release comes last.
        return len(last) == 2 and "KEYUP vk=12" in last[0] and "KEYUP vk=11" in last[1]
    assert wait_until(released, 3), \
        f"expected Alt's then Ctrl's release last, the window's last keys: {key_target.keys()[-4:]}"


def test_keystrokes_reach_the_focused_window_one_a_tick(polling, key_target):
    d, run = polling
    key_target.start()
    # Five keystrokes at once are emulated one a 200 ms tick. Only a lower
    # bound is checked: a busy machine can stretch the ticks, never shrink them.
    d.steps("raw " + " ".join(["84 64 7C"] * 5), "listen 2500", "expect-fcs 5 600")
    d.steps("text Hi, 42!", "key enter", "key 0x51:0x11", "key 0x13:0x13", "listen 300",
            "expect-fcs 10")
    assert key_target.text() == "Hi, 42!\rq", "expected the window to receive 'Hi, 42!\\rq'"
    keys = key_target.keys()
    # 0x11 and 0x13 are XON and XOFF: they must cross the line as data.
    for key in ["KEYDOWN vk=7C scan=64"] * 5 + ["KEYDOWN vk=51 scan=11", "KEYDOWN vk=13 scan=13"]:
        assert key in keys, f"expected {key} as sent, the window got {keys}"
        keys = keys[keys.index(key) + 1:]


def test_capitals_with_num_lock_on(polling, key_target):
    d, run = polling
    key_target.start()
    d.steps("mods 20", "sleep 600", "expect-flags 20")
    try:
        # The sound recipe: read the flags, request them with both Shift bits
        # set, send the key, then request the flags as read.
        d.step("query")
        flags = flags_answered(d)
        d.steps(f"raw {flag_request(flags | 0x03)}", "raw 84 23 48", "expect FC",
                f"raw {flag_request(flags)}", "sleep 600", "query")
        assert key_target.text() == "H", "expected 'H' from the sound recipe"
        flags = flags_answered(d)
        assert flags == 0x20, \
            f"expected Num Lock still on (flags 20) after the sound recipe, read {flags:02X}"
        # The device tool's text types its capitals the same way.
        d.steps("text Hi there", "sleep 600", "query")
        assert key_target.text() == "HHi there", "expected the window to receive 'Hi there' next"
        flags = flags_answered(d)
        assert flags == 0x20, \
            f"expected Num Lock still on (flags 20) after the tool's text, read {flags:02X}"
        # The absolute recipe, 88 00 03, the key, 88 00 00: Num Lock goes off.
        d.steps("raw 88 00 03", "raw 84 23 48", "expect FC", "raw 88 00 00", "sleep 600", "query")
        assert key_target.text() == "HHi thereH", "expected a last 'H' from the absolute recipe"
        flags = flags_answered(d)
        assert flags == 0x00, \
            f"expected Num Lock off (flags 00) after 88 00 03 ... 88 00 00, read {flags:02X}"
    finally:
        all_locks_off(d)


def test_30_s_soak_loses_nothing(polling, key_target, tmp_path):
    d, run = polling
    key_target.start()
    d.step("soak 30", within_s=60)
    d.steps("expect-no-loss", f"save-counts {tmp_path / 'counts'}", "listen 300")
    counts = dict(line.split() for line in (tmp_path / "counts").read_text().splitlines())
    sent = int(counts["keystrokes"])
    arrived = sum(key.startswith("KEYDOWN vk=7C ") for key in key_target.keys())
    assert sent > 0 and arrived == sent, \
        f"expected every keystroke in the window: {sent} sent, {arrived} arrived"
