#!/usr/bin/env python3
"""boot/check_lists.py on the real environment, and on copies of it with one drift each: every
drift must be reported, naming the definition at fault.

  test_check_lists.py SOURCE_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(sys.argv[1])
CHECK = os.path.join(ROOT, "boot", "check_lists.py")


def reserved_native():
    """The first native the list only reserves, as (name, index): natives get built, so the
    drift that defines one at a reserved index takes whichever is still reserved."""
    with open(os.path.join(ROOT, "interpreter", "native_list.h"), encoding="utf-8") as f:
        m = re.search(r'\bR\(\s*(\d+),\s*\w+,\s*"([^"]+)"\)', f.read())
    return (m.group(2), int(m.group(1))) if m else None


RESERVED = reserved_native()

# (what drifts, file, text replaced, replacement, what the report must say)
DRIFTS = [
    ("a native under the next native's index", "11-natives.zel",
     "then-blk [block!]] 2]", "then-blk [block!]] 3]",
     'native unless: number 3 is "either" in the list'),
    ("a native under another word", "11-natives.zel",
     "\nforever: make native!", "\nforever-and-ever: make native!",
     'native forever-and-ever: number 10 is "forever" in the list'),
    ("an action under a number past the slots", "10-actions.zel",
     "[series! port! any-word!]] 34]", "[series! port! any-word!]] 99]",
     "action index?: number 99 is not in the list"),
    ("an action for a slot without a word", "10-actions.zel",
     '"Returns the non-negative value"\n    value [number! money! char! pair! any-point! time!]] 10]',
     '"Returns the non-negative value"\n    value [number! money! char! pair! any-point! time!]] 9]',
     "action absolute: number 9 is a slot without a word in the list"),
    ("a native defined twice", "11-natives.zel",
     "\nforever: make native!", "\nif: make native! [[] 1]\nforever: make native!",
     "native if: also defined in"),
    ("a listed native left undefined", "11-natives.zel",
     "\nforever: make native!", "\nforever-gone: make native!",
     "native forever (10) is in the list but no boot/env source defines it"),
]
if RESERVED:
    name, index = RESERVED
    DRIFTS.append(("a native at an index the list reserves", "11-natives.zel",
                   "\nforever: make native!",
                   f"\n{name}: make native! [[w s b] {index}]\nforever: make native!",
                   f"native {name}: the list reserves {index}"))


def run(env_dir):
    return subprocess.run([sys.executable, CHECK, "--root", ROOT, "--env-dir", env_dir],
                          capture_output=True, text=True)


def main():
    failures = 0
    real = run(os.path.join(ROOT, "boot", "env"))
    if real.returncode != 0:
        print("the real environment fails the check:\n" + real.stderr)
        failures += 1
    for what, name, old, new, expected in DRIFTS:
        with tempfile.TemporaryDirectory() as env:
            for f in os.listdir(os.path.join(ROOT, "boot", "env")):
                shutil.copy(os.path.join(ROOT, "boot", "env", f), env)
            path = os.path.join(env, name)
            text = open(path, encoding="utf-8").read()
            if text.count(old) != 1:
                print(f"{what}: the text to change is not in {name} exactly once")
                failures += 1
                continue
            open(path, "w", encoding="utf-8").write(text.replace(old, new))
            result = run(env)
            if result.returncode == 0 or expected not in result.stderr:
                print(f"{what}: expected a failure saying {expected!r}, got "
                      f"status {result.returncode}:\n{result.stderr}")
                failures += 1
    total = len(DRIFTS) + 1
    print(f"{total - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
