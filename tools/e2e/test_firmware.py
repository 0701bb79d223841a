"""The reference firmware on a simulated chip, in real time and at a real
UART's pace, typing through the tap into the program and a focused window.
The device tool stands behind the tap before and after it, to switch Num
Lock on and to read the flags once the firmware is done."""
from wine_env import wait_until

# The buttons of the firmware's pin map that type "Hello, World!".
HELLO = ["H", "e", "l", "l", "o", "comma", "space", "W", "o", "r", "l", "d", "exclaim"]
TEXT = "Hello, World!"


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


def typed(key_target, within_s, length=len(TEXT)):
    """The window's text once it has `length` characters, or after within_s."""
    wait_until(lambda: len(key_target.text()) >= length, within_s)
    return key_target.text()


def test_the_firmware_types_through_the_tap_and_num_lock_stays_on(
        device, firmware, program, key_target, tap, link, tmp_path):
    port = tmp_path / "device-port"
    tool_device = device("before", link=port)
    tap.start(port, link)
    run = program.start()
    tool_device.steps("identify 40000", within_s=45)
    key_target.start()
    tool_device.steps("mods 20", "sleep 600", "expect-flags 20")
    tool_device.finish()
    try:
        before = identities(tap)
        chip = firmware(port)
        assert identified(tap, before), "expected the program to answer the firmware's identify"
        chip.steps(*(f"tap {b}" for b in HELLO))
        assert typed(key_target, 20) == TEXT, f"expected the window to receive '{TEXT}'"
        # The last capital's closing request follows its FC: wait for it
        # (the tool's "mods 20" and one after each of the three capitals).
        assert wait_until(lambda: tap.messages("device").count("88 00 20") >= 4, 5), \
            "expected the firmware to put the flags back after the last capital"
        chip.close()
        tool_behind_tap(device, port, "after", "expect-flags 20")
    finally:
        # Num Lock off again, and seen off, before the program closes: Wine
        # shows a program started later a lock key left on as off.
        tool_behind_tap(device, port, "cleanup", "mods 00", "sleep 600", "expect-flags 00")
    program.end(run)
    tap.stop()
    assert tap.warnings() == [], "expected no warning from the tap about the firmware"
    # Each capital read the flags first, then asked for them with both Shift bits.
    requests = [m for m in tap.messages("device") if m.startswith("88 00 ")]
    assert requests.count("88 00 23") == 3 and requests.count("88 00 20") >= 3, \
        f"expected three capitals asked as 88 00 23 ... 88 00 20, the device asked {requests}"


def test_a_key_pressed_while_unplugged_is_lost_and_typing_goes_on(
        firmware, program, key_target, tap, link, tmp_path):
    port = tmp_path / "device-port"
    chip = firmware(port)
    tap.start(port, link)
    run = program.start()
    assert identified(tap), "expected the program to answer the firmware's identify"
    key_target.start()
    chip.steps(*(f"tap {b}" for b in HELLO[:5]))
    wait_until(lambda: key_target.text() == "Hello", 10)
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
