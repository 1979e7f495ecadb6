#!/usr/bin/env python3
"""Derive the grey button pictures from their coloured originals.

  *_Dis.svg    disabled toolbar buttons: flat mid greys
  *_Inact.svg  disabled menu commands:   lighter greys

Every colour of the original is replaced according to its role (outline,
main fill, paper, fold, white detail); the shapes stay untouched.  A colour
without a role stops the script, so a new colour in an original cannot slip
through unnoticed.  Run from any directory: python3 make_variants.py
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

DISABLED = ["bmpCopy", "bmpNoFile", "bmpProp", "bmpPause", "bmpPlay",
            "bmpDown", "bmpUp", "bmpUnknown", "bmpRun"]
INACTIVE = ["bmpNoFile", "bmpPause", "bmpPlay", "bmpUnknown", "bmpRun",
            "bmpUp", "bmpDown"]

ROLE = {
    # outlines
    "#1d4a7d": "outline", "#1e6e36": "outline", "#8e221b": "outline",
    "#9a6e00": "outline", "#50555c": "outline", "#5a6470": "outline",
    "#2e3238": "outline",
    # main fills
    "#2f6fb3": "fill", "#5b93d1": "fill", "#2e9d4f": "fill",
    "#c8372d": "fill", "#e0a100": "fill", "#7a7f87": "fill",
    "#2b3440": "fill",
    # light surfaces
    "#f5f7fa": "paper", "#eaf3fc": "paper", "#fff6dc": "paper",
    "#d5dbe3": "fold",
    "#ffffff": "white",
}

GREYS = {
    "Dis":   {"outline": "#8a8f96", "fill": "#a0a4aa", "paper": "#eceef0",
              "fold": "#d2d5d9", "white": "#f4f5f6"},
    "Inact": {"outline": "#b1b5ba", "fill": "#c3c6cb", "paper": "#f3f4f5",
              "fold": "#dfe1e4", "white": "#fbfbfc"},
}

NOTE = {"Dis": "disabled toolbar button", "Inact": "disabled menu command"}


def derive(name, kind):
    with open(os.path.join(HERE, name + ".svg"), encoding="utf-8") as f:
        text = f.read()

    def grey(m):
        colour = m.group(0).lower()
        if colour not in ROLE:
            sys.exit(f"{name}.svg: colour {colour} has no role in make_variants.py")
        return GREYS[kind][ROLE[colour]]

    text = re.sub(r"#[0-9a-fA-F]{6}\b", grey, text)
    text = re.sub(r"<!-- (.*?) -->", lambda m: f"<!-- {m.group(1)} ({NOTE[kind]}) -->",
                  text, count=1)
    out = os.path.join(HERE, f"{name}_{kind}.svg")
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)
    print("wrote", os.path.relpath(out))


if __name__ == "__main__":
    for n in DISABLED:
        derive(n, "Dis")
    for n in INACTIVE:
        derive(n, "Inact")
