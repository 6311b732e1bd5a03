#!/usr/bin/python3
# The viewer driven by the keyboard alone: composes the identifier 0x1A5,
# switches the bus on, shows channel 2, opens and closes the trend window.
# Keys go through xdotool to the real window; what they did is read back as
# a screen reader reads it (AT-SPI). Run by atspi_test.sh, which then quits
# the viewer with Ctrl+Q.
import subprocess
import sys
import time

import pyatspi
from atspi_viewer import find_viewer


def fail(what):
    sys.exit(f"FAIL: {what}")


def panel_control(role, name):
    frame = [w for w in find_viewer() if w is not None and w.name == "Kolvar CAN Viewer"][0]
    for child in frame:
        if child is not None and child.getRoleName() == role and child.name == name:
            return child
    return None


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "60", *names], check=True)


def wait_for(condition, what):
    for _ in range(100):
        if condition():
            return
        time.sleep(0.05)
    fail(what)


def text_of(name):
    node = panel_control("text", name)
    return node.queryText().getText(0, -1) if node else None


def trend_shown():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Trend$"],
                         capture_output=True, text=True).stdout
    return bool(out.strip())


# The focus starts on the first control, CAN HARDWARE. Tab order: hardware,
# channel, bit rate, bus button, PRE0, PRE1, PRE2, high digit, low digit,
# plot channel, Trend.
keys("Tab", "Tab", "Tab", "Tab", "space", "Tab", "space", "Tab", "Tab", "a", "Tab", "5")
wait_for(lambda: text_of("hexadecimal") == "1A5" and text_of("decimal") == "421",
         f"composing 0x1A5 by keys shows {text_of('hexadecimal')!r} / {text_of('decimal')!r}")
print("composed: hexadecimal 1A5, decimal 421")

keys("shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "Return")
wait_for(lambda: panel_control("check box", "ON BUS") is not None, "Return on the bus button did not switch it on")
print("Return switched the bus on")

keys(*["Tab"] * 6, "Down")


def second_meter_shown():
    meter = panel_control("dial", "Channel 2")
    return meter is not None and meter.getState().contains(pyatspi.STATE_SHOWING)


wait_for(second_meter_shown, "Down on Plot Channel did not show the meter Channel 2")
print("Plot Channel at Ch 2 shows Channel 2")

keys("Tab", "space")
wait_for(trend_shown, "Space on Trend did not open the trend window")
keys("Escape")
wait_for(lambda: not trend_shown(), "Esc did not close the trend window")
print("Trend opened with Space and closed with Esc")
