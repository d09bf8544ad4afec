#!/usr/bin/env python3
"""Fails when a source includes a header from a layer above its own.

The layers, bottom to top, are listed below; a file may include its own layer and those under
it. runtime/throw.h (the throw codes and rt::Throw) is the floor under platform/os, which throws
them. tests/ and bench/ sit on top and are not checked. Reads the `#include "folder/..."` lines
of every .h/.cpp/.inc under the layer folders of ROOT.

  check_layers.py ROOT [--stamp FILE]

Exit status 0 when every include points down or sideways, 1 with one line per upward include.
"""
import os
import re
import sys

# (path prefix, rank): the longest prefix that matches a path gives its layer.
LAYERS = [
    ("runtime/throw.h", 0),
    ("platform/os", 1),
    ("platform/gui", 1),
    ("runtime", 2),
    ("datatypes", 3),
    ("lexer", 4),
    ("interpreter", 5),
    ("io", 6),
    ("library", 7),
    ("boot", 8),
    ("tools", 9),
]
TOP = ("tests", "bench")
SOURCE = re.compile(r"\.(h|cpp|inc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    best = None
    for prefix, rank in LAYERS:
        if path == prefix or path.startswith(prefix + "/"):
            if best is None or len(prefix) > len(best[0]):
                best = (prefix, rank)
    if best is None and path.split("/", 1)[0] in TOP:
        return ("tests", len(LAYERS))
    return best


def check(root):
    faults = []
    folders = sorted({prefix for prefix, _ in LAYERS if not SOURCE.search(prefix)})
    for folder in folders:
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                full = os.path.join(directory, name)
                path = os.path.relpath(full, root).replace(os.sep, "/")
                own = layer_of(path)
                with open(full, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = layer_of(m.group(1))
                        if target and target[1] > own[1]:
                            faults.append(f"{path}:{number}: {own[0]} includes \"{m.group(1)}\""
                                          f" from {target[0]}, a layer above it")
    return faults


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    root = argv[1]
    faults = check(root)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        order = " < ".join(prefix for prefix, _ in LAYERS)
        print(f"layer check: {len(faults)} upward include(s); layers: {order}", file=sys.stderr)
        return 1
    if "--stamp" in argv:
        with open(argv[argv.index("--stamp") + 1], "w") as f:
            f.write("layers ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
