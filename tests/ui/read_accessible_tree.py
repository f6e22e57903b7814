#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Reads an application's accessible tree the way a screen reader does, over AT-SPI.

Usage: read_accessible_tree.py PID [TIMEOUT_SECONDS]

Waits until the application with that process id has registered with the desktop and
shows at least one list item, then prints what is on screen of its tree as JSON, as a
screen reader presents it: one object per showing element, with its role name, name,
description, number of children and the indexes that lead to it from the
application. Elements that are not showing (hidden widgets) are left out with all
they hold. Exits 2 when the application never shows up.
"""
import json
import sys
import time

import pyatspi


def walk(accessible, path, out):
    if path and not accessible.getState().contains(pyatspi.STATE_SHOWING):
        return
    count = accessible.childCount
    out.append({
        "role": accessible.getRoleName(),
        "name": accessible.name or "",
        "description": accessible.description or "",
        "children": count,
        "path": path,
    })
    for index in range(count):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            walk(child, path + [index], out)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:  # an application that went away meanwhile
            continue
    return None


def main():
    pid = int(sys.argv[1])
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 20)
    tree = []
    while time.monotonic() < deadline:
        app = application(pid)
        if app is not None:
            tree = []
            walk(app, [], tree)
            if any(node["role"] == "list item" for node in tree):
                json.dump(tree, sys.stdout, ensure_ascii=False)
                return 0
        time.sleep(0.2)
    print(f"application {pid} did not show its list on the accessibility bus", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
