#!/usr/bin/env python3
"""Checks the native and action lists against the language environment, at build time.

The C++ side numbers every native and action once, in interpreter/native_list.h and
datatypes/action_list.h; the environment (boot/env/*.zel) defines each of them with its word and
the same number, as in `if: make native! [[...] 1]`. This script reads both and fails the build
when they disagree: a definition whose number is not in the list or whose word is not the
list's name for it, a listed native or action that nothing defines (or defines twice), or a
native defined for an index the list only reserves (it has no C++ function).

  check_lists.py --root SOURCE_DIR [--env-dir DIR] [--stamp FILE]
"""
import argparse
import glob
import os
import re
import sys

def read_list(path, pattern):
    with open(path, encoding="utf-8") as f:
        return [m.groupdict() for m in re.finditer(pattern, f.read())]


def natives_listed(root):
    built = read_list(os.path.join(root, "interpreter/native_list.h"),
                      r'\bX\(\s*(?P<index>\d+),\s*(?P<id>\w+),\s*"(?P<name>[^"]+)",\s*(?P<fn>\w+)\)')
    reserved = read_list(os.path.join(root, "interpreter/native_list.h"),
                         r'\bR\(\s*(?P<index>\d+),\s*(?P<id>\w+),\s*"(?P<name>[^"]+)"\)')
    rows = {}
    for row in built + reserved:
        row["built"] = "fn" in row
        rows[int(row["index"])] = row
    return rows


def actions_listed(root):
    rows = read_list(os.path.join(root, "datatypes/action_list.h"),
                     r'\bX\(\s*(?P<id>\w+),\s*(?P<index>\d+),\s*(?:"(?P<name>[^"]+)"|nullptr)\)')
    return {int(row["index"]): row for row in rows}


def tokens(text):
    """The Zel source's tokens that matter here: words, brackets and integers; strings, chars,
    binary and comments are skipped, so that brackets inside them do not count."""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c.isspace():
            i += 1
        elif c == ";":
            while i < n and text[i] != "\n":
                i += 1
        elif c == '"' or (c == "#" and text.startswith('#"', i)):
            i += 2 if c == "#" else 1
            while i < n and text[i] != '"':
                i += 2 if text[i] == "^" else 1
            i += 1
        elif c == "{" or (c == "#" and text.startswith("#{", i)):
            i += 2 if c == "#" else 1
            depth = 1
            while i < n and depth:
                if text[i] == "^":
                    i += 1
                elif text[i] == "{":
                    depth += 1
                elif text[i] == "}":
                    depth -= 1
                i += 1
        elif c in "[]()":
            yield c
            i += 1
        else:
            j = i
            while j < n and not text[j].isspace() and text[j] not in '[]()";{':
                j += 1
            yield text[i:j]
            i = j


def definitions(path, kind):
    """(word, number) of each top-level `word: make KIND! [[spec] number]` in the file."""
    found = []
    toks = list(tokens(open(path, encoding="utf-8").read()))
    depth = 0
    for k, tok in enumerate(toks):
        if tok in "[(":
            depth += 1
        elif tok in "])":
            depth -= 1
        elif (depth == 0 and tok.endswith(":") and toks[k + 1:k + 4] == ["make", kind + "!", "["]):
            # The make spec's block: its last value, before its closing bracket, is the number.
            level, j = 0, k + 3
            while True:
                if toks[j] in "[(":
                    level += 1
                elif toks[j] in "])":
                    level -= 1
                    if level == 0:
                        break
                j += 1
            number = toks[j - 1]
            found.append((tok[:-1], int(number) if number.isdigit() else None))
    return found


def check(root, env_dir):
    errors = []
    natives, actions = natives_listed(root), actions_listed(root)
    if not natives or not actions:
        return ["the native or action list could not be read"]
    for kind, rows in (("native", natives), ("action", actions)):
        defined = {}
        for path in sorted(glob.glob(os.path.join(env_dir, "*.zel"))):
            where = os.path.relpath(path, root)
            for word, number in definitions(path, kind):
                row = rows.get(number)
                if number is None or row is None:
                    errors.append(f"{where}: {kind} {word}: number {number} is not in the list")
                elif row["name"] != word:
                    listed = f'"{row["name"]}"' if row["name"] else "a slot without a word"
                    errors.append(f"{where}: {kind} {word}: number {number} is {listed} in the list")
                elif kind == "native" and not row["built"]:
                    errors.append(f"{where}: native {word}: the list reserves {number} but names "
                                  f"no C++ function for it")
                elif number in defined:
                    errors.append(f"{where}: {kind} {word}: also defined in {defined[number]}")
                else:
                    defined[number] = where
        for number, row in sorted(rows.items()):
            wanted = row["name"] and row.get("built", True)
            if wanted and number not in defined:
                errors.append(f"{kind} {row['name']} ({number}) is in the list but no "
                              f"boot/env source defines it")
    return errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--env-dir")
    ap.add_argument("--stamp")
    a = ap.parse_args()
    errors = check(a.root, a.env_dir or os.path.join(a.root, "boot/env"))
    for e in errors:
        print("check_lists: " + e, file=sys.stderr)
    if errors:
        sys.exit(1)
    if a.stamp:
        with open(a.stamp, "w") as f:
            f.write("the native and action lists agree with boot/env\n")


if __name__ == "__main__":
    main()
