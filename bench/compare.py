#!/usr/bin/env python3
"""Zel beside CPython and Lua on the same programs (bench/programs/NAME.zel, .py, .lua).

Times whole processes (median of --runs after one warm-up run) and prints the ratios zel/py and
zel/lua; below 1.0 Zel is faster. All three must print the same output, else the row says so.

  python3 bench/compare.py --zel build/release/zel-run [--runs 5] [NAME ...]

--count measures instructions instead of time (valgrind's callgrind, repeatable on a busy
machine): each program runs at its size n and at 2n (the `n:` line rewritten), and the difference
divided by n is the cost of one unit of work (a loop iteration; for fib a call is counted as
fib's call count grows, so its row gives instructions per call).

Lua is optional: install lua5.4 for its column.
"""
import argparse, os, re, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = os.path.join(HERE, "programs")
SIZE_LINE = {".zel": r"^n: (\d+)$", ".py": r"^n = (\d+)$", ".lua": r"^local n = (\d+)$"}


def names():
    return sorted(f[:-4] for f in os.listdir(PROGRAMS) if f.endswith(".zel"))


def command(kind, zel, path):
    lua = shutil.which("lua5.4") or shutil.which("lua")
    if kind == ".zel":
        return zel.split() + [path]
    if kind == ".py":
        return [sys.executable, path]
    return [lua, path] if lua else None


def timed(cmd, runs):
    out, times = None, []
    for k in range(runs + 1):
        t0 = time.perf_counter()
        p = subprocess.run(cmd, capture_output=True, text=True, timeout=900)
        dt = time.perf_counter() - t0
        if p.returncode != 0:
            return None, (p.stdout + p.stderr).strip()
        out = p.stdout.strip()
        if k:  # the first run warms caches and is not counted
            times.append(dt)
    return statistics.median(times), out


def fib_calls(n):
    a, b = 0, 1  # fib(n) makes 2 * F(n + 1) - 1 calls
    for _ in range(n + 1):
        a, b = b, a + b
    return 2 * a - 1


def instructions(cmd):
    p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd,
                       capture_output=True, text=True, timeout=3600)
    m = re.search(r"Collected : (\d+)", p.stderr)
    return int(m.group(1)) if m and p.returncode == 0 else None


def count_row(name, zel, scale):
    """Instructions per unit of work for each interpreter at a reduced size (n / scale)."""
    cells = []
    for kind in (".zel", ".py", ".lua"):
        path = os.path.join(PROGRAMS, name + kind)
        with tempfile.TemporaryDirectory() as tmp:
            text = open(path).read()
            m = re.search(SIZE_LINE[kind], text, re.M)
            base = max(1, int(m.group(1)) // scale) if name != "fib" else 15
            small = os.path.join(tmp, "small" + kind)
            large = os.path.join(tmp, "large" + kind)
            big = base + 3 if name == "fib" else 2 * base
            for p, n in ((small, base), (large, big)):
                with open(p, "w") as f:
                    f.write(text[:m.start(1)] + str(n) + text[m.end(1):])
            cmd_small, cmd_large = command(kind, zel, small), command(kind, zel, large)
            if not cmd_small:
                cells.append(None)
                continue
            a, b = instructions(cmd_small), instructions(cmd_large)
            units = fib_calls(big) - fib_calls(base) if name == "fib" else big - base
            cells.append(None if a is None or b is None else (b - a) / units)
    return cells


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--zel", default=os.environ.get("ZEL", "build/release/zel-run"),
                    help="command that runs a .zel script (default build/release/zel-run)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--count", action="store_true", help="instructions per unit (callgrind)")
    ap.add_argument("--scale", type=int, default=100, help="with --count: size divided by this")
    ap.add_argument("names", nargs="*")
    a = ap.parse_args()
    failed = 0
    if a.count:
        if not shutil.which("valgrind"):
            sys.exit("compare.py: --count needs valgrind")
        print(f"{'bench':10} {'zel':>10} {'py':>10} {'lua':>10}   instructions per unit")
        for n in a.names or names():
            cells = count_row(n, a.zel, a.scale)
            fmt = lambda v: f"{v:10.0f}" if v is not None else "         -"
            print(f"{n:10} {fmt(cells[0])} {fmt(cells[1])} {fmt(cells[2])}")
            failed += cells[0] is None
        sys.exit(1 if failed else 0)
    print(f"{'bench':10} {'zel s':>8} {'py s':>8} {'lua s':>8} {'zel/py':>7} {'zel/lua':>7}  output")
    for n in a.names or names():
        z, zo = timed(command(".zel", a.zel, os.path.join(PROGRAMS, n + ".zel")), a.runs)
        p, po = timed(command(".py", a.zel, os.path.join(PROGRAMS, n + ".py")), a.runs)
        lua_cmd = command(".lua", a.zel, os.path.join(PROGRAMS, n + ".lua"))
        l, lo = timed(lua_cmd, a.runs) if lua_cmd else (None, po)
        same = zo == po and lo == po
        failed += z is None or not same
        fmt = lambda v: f"{v:8.3f}" if v is not None else "       -"
        rat = lambda v: f"{z / v:7.2f}" if z is not None and v else "      -"
        if z is None:
            note = "fails: " + zo.splitlines()[0][:60] if zo else "fails"
        else:
            note = "same" if same else f"DIFFERS zel={zo!r:.40} py={po!r:.30}"
        print(f"{n:10} {fmt(z)} {fmt(p)} {fmt(l)} {rat(p)} {rat(l)}  {note}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
