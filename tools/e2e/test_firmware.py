"""The reference firmware on a simulated chip, in real time and at a real
UART's pace, typing through the tap into the program and a focused window.
The device tool stands behind the tap before, between and after, to set the
locks and to read the flags once the firmware is done; the tap's record
shows every message that crossed."""
import time

from wine_env import wait_until

# The buttons of the firmware's pin map that type "Hello, World!", and its chord.
HELLO = ["H", "e", "l", "l", "o", "comma", "space", "W", "o", "r", "l", "d", "exclaim"]
TEXT = "Hello, World!"
UNDO = "\x1a"  # the character Ctrl+Z brings a window


def identities(tap):
    """How many identities the program has sent through the tap."""
    return tap.messages("program").count("98 02 22")


def identified(tap, after=0):
    """Waits until the program has answered an identify, beyond `after` earlier ones."""
    return wait_until(lambda: identities(tap) > after, 15)


def tool_behind_tap(device, port, name, *steps):
    """The device tool in the device's place for a few steps, then gone."""
    d = device(name, link=port)
    d.steps("sleep 800", *steps)  # the tap finds the new device within 500 ms
    d.finish()


def typed(key_target, within_s, length):
    """The window's text once it has `length` characters, or after within_s."""
    wait_until(lambda: len(key_target.text()) >= length, within_s)
    return key_target.text()


def test_the_firmware_types_as_written_whatever_caps_lock_and_leaves_no_key_down(
        device, firmware, program, key_target, tap, link, tmp_path):
    port = tmp_path / "device-port"
    tool_device = device("before", link=port)
    tap.start(port, link)
    run = program.start()
    tool_device.steps("identify 40000", within_s=45)
    key_target.start()
    tool_device.steps("mods 60", "sleep 600", "expect-flags 60")  # Caps Lock and Num Lock on
    tool_device.finish()
    chip = None
    try:
        before = identities(tap)
        chip = firmware(port)
        assert identified(tap, before), "expected the program to answer the firmware's identify"
        for n, locks in enumerate(["60", "20"], 1):
            chip.steps(*(f"tap {b}" for b in HELLO + ["undo"]))
            expected = (TEXT + UNDO) * n
            assert typed(key_target, 20, len(expected)) == expected, \
                f"expected the window to receive {expected!r} with flags {locks}"
            # The chord's closing request follows its FC; then the tool reads
            # the flags in the firmware's place: every modifier up.
            assert wait_until(lambda: tap.messages("device")[-1] == f"88 00 {locks}", 5), \
                "expected the firmware to release Ctrl after the chord"
            chip.steps("unplug")
            tool_behind_tap(device, port, f"after-{locks}", f"expect-flags {locks}",
                            "mods 20", "sleep 600", "expect-flags 20")
            chip.steps("plug", "wait 1000")  # Caps Lock off for the second round
    finally:
        if chip:
            chip.close()
        # Num Lock off again, and seen off, before the program closes: Wine
        # shows a program started later a lock key left on as off.
        tool_behind_tap(device, port, "cleanup", "mods 00", "sleep 600", "expect-flags 00")
    program.end(run)
    tap.stop()
    assert tap.warnings() == [], "expected no warning from the tap about the firmware"
    # Only the tool's requests (60, 20, 20, 00) change a lock; the firmware's
    # keep the locks as read. A request's locks: the first digit of its flags.
    locks = [m[-2] for m in tap.messages("device") if m[:2] in ("88", "8A")]
    assert [l for i, l in enumerate(locks) if i == 0 or l != locks[i - 1]] == ["6", "2", "0"], \
        f"expected no request of the firmware's to change a lock; locks requested: {locks}"


def test_a_key_pressed_while_unplugged_is_lost_and_typing_goes_on(
        firmware, program, key_target, tap, link, tmp_path):
    port = tmp_path / "device-port"
    chip = firmware(port)
    tap.start(port, link)
    run = program.start()
    assert identified(tap), "expected the program to answer the firmware's identify"
    key_target.start()
    chip.steps(*(f"tap {b}" for b in HELLO[:5]))
    # The fifth FC must reach the chip before the adapter goes: a press the
    # firmware still holds, waiting for an FC, is sent after the plug.
    assert wait_until(lambda: tap.messages("program").count("FC") == 5, 10), \
        "expected an FC for each of Hello's keystrokes"
    time.sleep(0.3)
    # The comma goes out while the adapter is away: no FC comes, and the
    # firmware identifies again instead of sending it twice.
    before = identities(tap)
    chip.steps("unplug", "tap comma", "wait 1500", "plug")
    assert identified(tap, before), "expected the firmware to identify again once plugged in"
    chip.steps(*(f"tap {b}" for b in HELLO[6:]))
    text = typed(key_target, 20, len("Hello World!"))
    program.end(run)
    tap.stop()
    assert tap.events("device-gone"), "expected the tap to see the device go"
    assert text == "Hello World!", \
        "expected the window to receive 'Hello World!': the comma lost, nothing typed twice"
