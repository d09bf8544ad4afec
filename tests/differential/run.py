#!/usr/bin/env python3
"""The differential check of the collector's stress mode: generated programs must answer exactly
alike with and without ZEL_GC_STRESS (a full moving collection at each allocation that may
collect). A value that a C++ local holds unrooted across an allocation is lost only when a
collection falls there, which the stress mode makes happen; a run that answers otherwise, or
crashes, shows the fault.

With --plans the same programs are compared walked by the general evaluator only
(ZEL_PLANS=off) and with every block planned from its first evaluation (ZEL_PLANS=always).

    run.py --runner PATH/zel_lang_tests [--count N] [--seed S] [--jobs J] [--stress N] [--dir D]
           [--plans]

The programs (gen_programs.py, fixed seeds) are split into J shards, each run by the case-table
runner in outcomes mode (one line per program) in a process of its own, once plainly and once
under the stress mode, J processes at a time; the lines must be the same. Each shard starts with
the same prelude, so every shard stands alone. The case tables are compared the same way by the
runner itself when the test suite runs under the stress mode.

When ZEL_GC_STRESS is already set (the suite itself running under the stress mode), the check
is skipped with status 77: it sets the mode itself, and has run in the plain suite.
"""
import argparse
import concurrent.futures
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_programs  # noqa: E402

SKIPPED = 77
SHOWN_DIFFERENCES = 10


def write_shards(directory, count, seed, jobs):
    gen = gen_programs.Gen(seed)
    programs = [gen.program() for _ in range(count)]
    paths = []
    for shard in range(jobs):
        path = os.path.join(directory, "programs-%d.zel" % shard)
        gen_programs.write_list(path, gen_programs.PRELUDE + programs[shard::jobs],
                                "run.py --count %d --seed %d, shard %d of %d"
                                % (count, seed, shard + 1, jobs))
        paths.append(path)
    return paths


def run_shard(runner, path, settings, timeout):
    env = {k: v for k, v in os.environ.items() if k not in ("ZEL_GC_STRESS", "ZEL_PLANS")}
    env.update(settings)
    started = time.monotonic()
    try:
        done = subprocess.run([runner, "--outcomes", "--programs", path], env=env,
                              capture_output=True, timeout=timeout)
        status, out, err = done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired as expired:
        status, out, err = "timeout", expired.stdout or b"", expired.stderr or b""
    return {"status": status, "lines": out.decode("utf-8", "replace").splitlines(),
            "stderr": err.decode("utf-8", "replace"), "seconds": time.monotonic() - started}


def program_lines(path):
    """The source of each program by its line number, as the outcome lines name it."""
    with open(path, encoding="utf-8") as f:
        return {number: text.rstrip("\n") for number, text in enumerate(f, 1)}


def compare(path, plain, stressed, names):
    """Report lines on the programs of the shard whose outcomes differ, the number of programs,
    and the number of differences (a run that failed counts as one)."""
    programs = program_lines(path)
    plain_lines = [line for line in plain["lines"] if line.startswith(path + ":")]
    stressed_lines = [line for line in stressed["lines"] if line.startswith(path + ":")]
    report = []
    differing = 0
    for i, line in enumerate(plain_lines):
        other = stressed_lines[i] if i < len(stressed_lines) else None
        if line == other:
            continue
        differing += 1
        number = int(line[len(path) + 1:].split(":", 1)[0])
        report.append("%s:%d: %s" % (os.path.basename(path), number, programs.get(number, "?")))
        report.append("  %s: %s" % (names[0], line.split(": ", 1)[1]))
        if other is None:
            report.append("  %s: (no outcome: the run ended early)" % names[1])
            break
        report.append("  %s: %s" % (names[1], other.split(": ", 1)[1]))
    for name, run in zip(names, (plain, stressed)):
        if run["status"] != 0:
            differing = max(differing, 1)
            report.append("the run %s ended with status %s" % (name, run["status"]))
            report.extend("  " + line for line in run["stderr"].splitlines()[-15:])
    return report, len(plain_lines), differing


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--stress", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=1200, help="seconds per run")
    parser.add_argument("--dir", help="where the shards are written (default: a temporary one)")
    parser.add_argument("--plans", action="store_true",
                        help="compare the general walk with every block planned")
    args = parser.parse_args()
    if args.plans:
        names = ("general walk ", "planned walk ")
        settings = ({"ZEL_PLANS": "off"}, {"ZEL_PLANS": "always"})
    else:
        names = ("without stress", "with stress   ")
        settings = ({}, {"ZEL_GC_STRESS": str(args.stress)})
    if os.environ.get("ZEL_GC_STRESS", "0") not in ("", "0"):
        print("skipped: the check sets the stress mode itself (run it without ZEL_GC_STRESS)")
        return SKIPPED

    with tempfile.TemporaryDirectory() as scratch:
        directory = args.dir or scratch
        os.makedirs(directory, exist_ok=True)
        shards = write_shards(directory, args.count, args.seed, args.jobs)
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            plain = [pool.submit(run_shard, args.runner, p, settings[0], args.timeout)
                     for p in shards]
            stressed = [pool.submit(run_shard, args.runner, p, settings[1], args.timeout)
                        for p in shards]
            results = [(p, a.result(), b.result()) for p, a, b in zip(shards, plain, stressed)]

        total = failed = 0
        for path, a, b in results:
            report, programs, differing = compare(path, a, b, names)
            total += programs
            failed += differing
            print("%s: %d programs, %.0f s %s, %.0f s %s"
                  % (os.path.basename(path), programs, a["seconds"], names[0].strip(),
                     b["seconds"], names[1].strip()))
            if report:
                print("\n".join(report[:3 * SHOWN_DIFFERENCES + 16]))
    print("%d passed, %d failed" % (max(total - failed, 0), failed))
    return 1 if failed or not total else 0


if __name__ == "__main__":
    sys.exit(main())
