"""Checks the layering of src/: a folder includes only folders below it.

Bottom up: platform, core, settings, actions, engine, console and gui (the
two programs sit side by side: neither includes the other). Prints one line
per include that runs upwards and exits 1 when there is any.

    python3 check_includes.py /path/to/src
"""

import os
import re
import sys

LAYERS = ["platform", "core", "settings", "actions", "engine", "console", "gui"]
# The programs stand side by side on top of the engine.
PEERS = {("console", "gui"), ("gui", "console")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def main(src):
    failures = 0
    checked = 0
    for layer in LAYERS:
        top = os.path.join(src, layer)
        for root, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or m.group(1) not in LAYERS:
                            continue
                        checked += 1
                        target = m.group(1)
                        upwards = LAYERS.index(target) > LAYERS.index(layer)
                        if upwards or (layer, target) in PEERS:
                            failures += 1
                            rel = os.path.relpath(path, src)
                            print(f"{rel}:{number}: {layer}/ includes {target}/")
    print(f"{checked - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else
                  os.path.join(os.path.dirname(__file__), "..", "..", "src")))
