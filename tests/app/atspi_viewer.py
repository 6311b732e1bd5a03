# What atspi_tree.py and keyboard_run.py share: the viewer's application
# object on the accessibility bus.
import sys
import time

import pyatspi


def find_viewer():
    """The viewer's application, once it shows its panel; ends the test when
    it does not appear within 10 s."""
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == "kolvar-can-viewer" and app.childCount > 0:
                return app
        time.sleep(0.1)
    sys.exit("FAIL: the viewer does not appear on the accessibility bus")
