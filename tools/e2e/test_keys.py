"""Keystrokes and the lock and modifier keys, as a device asks for them."""

import re

from wine_env import wait_until


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
    d.steps("text Hi, 42!", "key enter", "key scan=11 vk=51", "key scan=13 vk=13", "listen 300",
            "expect-fcs 10")
    assert key_target.text() == "Hi, 42!\rq", "expected the window to receive 'Hi, 42!\\rq'"
    keys = key_target.keys()
    # 0x11 and 0x13 are XON and XOFF: they must cross the line as data.
    for key in ["KEYDOWN vk=7C scan=64"] * 5 + ["KEYDOWN vk=51 scan=11", "KEYDOWN vk=13 scan=13"]:
        assert key in keys, f"expected {key} as sent, the window got {keys}"
        keys = keys[keys.index(key) + 1:]


def test_text_as_written_whatever_caps_lock_and_a_chord_leave_no_key_down(polling, key_target):
    d, run = polling
    key_target.start()
    expected = "Hello, World!\x03" * 2  # Ctrl+C brings a window the character 03
    try:
        for flags in ("60", "20"):  # Caps Lock and Num Lock on, then Num Lock alone
            d.steps(f"mods {flags}", "sleep 600", f"expect-flags {flags}")
            typing = len(key_target.keys())
            d.steps("text Hello, World!", "key ctrl+c", f"expect-flags {flags}")
            locks = [k for k in key_target.keys()[typing:] if re.search(r"vk=(14|90|91|2D) ", k)]
            assert not locks, f"expected no lock key pressed with flags {flags}, got {locks}"
        assert wait_until(lambda: key_target.text() == expected, 5), \
            f"expected the window to receive {expected!r}, it got {key_target.text()!r}"
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
