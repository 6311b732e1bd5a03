#!/usr/bin/python3
# What a screen reader gets of the viewer through AT-SPI: every control named,
# with its role and value, and a knob turned by a key announcing its digit.
# Run by atspi_test.sh inside a private D-Bus session with the accessibility
# bus, against a viewer already showing its panel. Prints the tree it read.
import subprocess
import sys
import time

import pyatspi
from atspi_viewer import find_viewer
from gi.repository import GLib

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def described(node):
    value = None
    try:
        value = node.queryValue().currentValue
    except NotImplementedError:
        pass
    text = None
    try:
        text = node.queryText().getText(0, -1)
    except NotImplementedError:
        pass
    states = node.getState()
    return {
        "role": node.getRoleName(),
        "name": node.name,
        "description": node.description,
        "value": value,
        "text": text,
        "read-only": states.contains(pyatspi.STATE_READ_ONLY),
        "labelled by": [t.name for r in node.getRelationSet()
                        if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                        for t in (r.getTarget(k) for k in range(r.getNTargets()))],
        "node": node,
    }


app = find_viewer()
frame = app.getChildAtIndex(0)
check(frame.getRoleName() == "frame" and frame.name == "Kolvar CAN Viewer",
      f"the panel is a frame named by its title, not {frame.getRoleName()} {frame.name!r}")
controls = [described(frame.getChildAtIndex(i)) for i in range(frame.childCount)]
for c in controls:
    extras = "".join(f" {k}={c[k]!r}" for k in ("value", "text", "description", "labelled by")
                     if c[k] is not None and c[k] != [] and c[k] != "")
    print(f"{c['role']:12} {c['name']!r}{' read-only' if c['read-only'] else ''}{extras}")


def control(role, name):
    found = [c for c in controls if c["role"] == role and c["name"] == name]
    check(len(found) == 1, f"{len(found)} controls '{role}' named {name!r}")
    return found[0] if found else None


# role, name, value (number), text, read-only
expected = [
    ("dial", "ID high digit", 0.0, None, False),
    ("dial", "ID low digit", 0.0, None, False),
    ("dial", "Channel 1", 0.0, None, True),
    ("text", "decimal", 512.0, "512", True),
    ("text", "hexadecimal", 512.0, "200", True),
    ("text", "Channel 1 raw word", 0.0, "0", True),
    ("check box", "OFF BUS", None, None, False),
    ("check box", "PRE1", None, None, False),
    ("push button", "Trend", None, None, False),
    ("label", "Bus status line", None, None, True),
]
for role, name, value, text, read_only in expected:
    c = control(role, name)
    if c:
        check(c["value"] == value, f"{name}: value {c['value']!r}, expected {value!r}")
        check(text is None or c["text"] == text, f"{name}: text {c['text']!r}, expected {text!r}")
        check(c["read-only"] == read_only, f"{name}: read-only {c['read-only']}, expected {read_only}")
meter = control("dial", "Channel 1")
check(meter and meter["description"] == "0.00, stale",
      f"the meter's reading says {meter and meter['description']!r}, expected '0.00, stale' off the bus")
for caption, entry in (("CAN HARDWARE", "Kvaser"), ("CAN Bitrate", "500 kbps"), ("Plot Channel", "Ch 1")):
    rings = [c for c in controls if c["role"] == "combo box" and caption in c["labelled by"]]
    check(len(rings) == 1 and rings[0]["name"] == entry, f"no combo box labelled {caption!r} showing {entry!r}")
# The one filler is the frame drawn behind the identifier's controls.
unnamed = [c["role"] for c in controls if c["role"] != "filler" and not c["name"]]
check(not unnamed, f"controls without a name: {unnamed}")

# A knob turned by a typed digit announces its new value.
knob = control("dial", "ID low digit")
announced = []


def on_value(event):
    if event.source == knob["node"]:
        announced.append(event.source.queryValue().currentValue)
        pyatspi.Registry.stop()


def turn():
    knob["node"].queryComponent().grabFocus()
    time.sleep(0.3)
    subprocess.run(["xdotool", "key", "c"], check=True)
    return False


if knob:
    pyatspi.Registry.registerEventListener(on_value, "object:property-change:accessible-value")
    GLib.timeout_add(100, turn)
    GLib.timeout_add(10000, lambda: pyatspi.Registry.stop() or False)
    pyatspi.Registry.start()
    print(f"announced values of 'ID low digit': {announced}")
    check(announced[:1] == [12.0], f"typing c on the knob announced {announced}, expected [12.0]")

for f in failures:
    print("FAIL:", f, file=sys.stderr)
sys.exit(1 if failures else 0)
