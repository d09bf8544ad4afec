#!/usr/bin/env python3
"""compress, decompress and checksum against the rest of the system, both ways.

  interop.py ZEL_RUN

Data compressed by Zel (every method, a few levels) must come back whole through the gzip and
zstd programs and Python's zlib (zlib container, raw DEFLATE, gzip container); streams made by
those (Python's zlib and gzip modules, `gzip`, `zstd`, concatenated frames and members with file
names) must come back whole through Zel's decompress; checksum of a file! must agree with
hashlib and zlib. Each Zel run is a script file that prints one result per line.
"""
import base64
import gzip
import hashlib
import hmac
import os
import random
import subprocess
import sys
import tempfile
import zlib

ZEL_RUN = sys.argv[1]
failures = []
checks = 0


def check(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run_zel(workdir, lines):
    """Runs the lines as a script; returns its printed lines."""
    script = os.path.join(workdir, "case.zel")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Zel []\n" + "\n".join(lines) + "\n")
    done = subprocess.run([ZEL_RUN, script], capture_output=True, timeout=120)
    if done.returncode != 0:
        sys.exit("zel-run failed: %s\n%s" % (done.stdout.decode()[-2000:],
                                               done.stderr.decode()[-2000:]))
    return done.stdout.decode().splitlines()


def zel_binary(data):
    return "#{" + data.hex().upper() + "}"


def program(args, data):
    done = subprocess.run(args, input=data, capture_output=True, timeout=120)
    if done.returncode != 0:
        return None
    return done.stdout


def samples():
    rng = random.Random(15)
    text = " ".join(rng.choice(["naïve", "Grüße", "zel", "block", "value", "日本"])
                    for _ in range(20000)).encode()
    noise = bytes(rng.getrandbits(8) for _ in range(70000))
    return {"text": text, "noise": noise, "empty": b"", "zeros": bytes(300000)}


# --- Zel compresses, the others decompress ------------------------------------------------------

def zel_to_others(workdir, data_sets):
    jobs = []
    for name, data in data_sets.items():
        for method, levels in (("zlib", [None, 1, 9]), ("deflate", [None, 5]),
                               ("gzip", [None, 1, 9]), ("zstd", [None, 1, 19])):
            for level in levels:
                jobs.append((name, method, level))
    lines = []
    for name, data in data_sets.items():
        lines.append("%s: %s" % ("data-" + name, zel_binary(data)))
    for name, method, level in jobs:
        call = ("compress/level data-%s '%s %d" % (name, method, level) if level
                else "compress data-%s '%s" % (name, method))
        lines.append("print enbase %s" % call)
    printed = run_zel(workdir, lines)
    check(len(printed) == len(jobs), "one line per compressed sample")
    for (name, method, level), line in zip(jobs, printed):
        data = data_sets[name]
        stream = base64.b64decode(line)
        what = "Zel %s level %s of %s" % (method, level, name)
        if method == "zlib":
            check(zlib.decompress(stream) == data, what + " through Python's zlib")
        elif method == "deflate":
            check(zlib.decompress(stream, -15) == data, what + " through Python's zlib (raw)")
        elif method == "gzip":
            check(program(["gzip", "-dc"], stream) == data, what + " through gzip")
            check(zlib.decompress(stream, 31) == data, what + " through Python's zlib (gzip)")
            check(gzip.decompress(stream) == data, what + " through Python's gzip")
        else:
            check(program(["zstd", "-dcq"], stream) == data, what + " through zstd")


# --- The others compress, Zel decompresses ------------------------------------------------------

def raw_deflate(data, level):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def others_to_zel(workdir, data_sets):
    streams = []
    for name, data in data_sets.items():
        streams.append((name, "zlib", "Python's zlib", zlib.compress(data)))
        streams.append((name, "zlib", "Python's zlib level 9", zlib.compress(data, 9)))
        streams.append((name, "deflate", "Python's raw zlib", raw_deflate(data, 6)))
        streams.append((name, "deflate", "Python's raw zlib level 1", raw_deflate(data, 1)))
        streams.append((name, "gzip", "Python's gzip", gzip.compress(data)))
        path = os.path.join(workdir, "sample-" + name + ".txt")
        with open(path, "wb") as f:
            f.write(data)
        # gzip -c FILE keeps the file's name in the header.
        streams.append((name, "gzip", "gzip with a name", program(["gzip", "-c", "-9", path], b"")))
        streams.append((name, "gzip", "gzip -n", program(["gzip", "-c", "-n"], data)))
        streams.append((name, "zstd", "zstd", program(["zstd", "-c", "-q"], data)))
        streams.append((name, "zstd", "zstd -19 --no-check", program(["zstd", "-c", "-q", "-19", "--no-check"], data)))
        half = len(data) // 2
        streams.append((name, "zstd", "two zstd frames",
                        program(["zstd", "-c", "-q"], data[:half]) +
                        program(["zstd", "-c", "-q", "-5"], data[half:])))
    lines = ["print enbase/base checksum decompress %s '%s 'sha256 16" % (zel_binary(s), m)
             for (_, m, _, s) in streams]
    printed = run_zel(workdir, lines)
    check(len(printed) == len(streams), "one line per decompressed stream")
    for (name, method, maker, _), line in zip(streams, printed):
        expected = hashlib.sha256(data_sets[name]).hexdigest().upper()
        check(line == expected, "%s stream of %s through Zel's %s" % (maker, name, method))


# --- checksum of files ----------------------------------------------------------------------------

def signed32(n):
    return n - (1 << 32) if n >= 1 << 31 else n


def file_checksums(workdir, data_sets):
    lines, expected = [], []
    for name, data in data_sets.items():
        path = os.path.join(workdir, "file-" + name + ".bin")
        with open(path, "wb") as f:
            f.write(data)
        zel_path = "%" + path
        for method in ("md5", "sha1", "sha256", "sha512"):
            lines.append("print enbase/base checksum %s '%s 16" % (zel_path, method))
            expected.append((name + " " + method, hashlib.new(method, data).hexdigest().upper()))
        lines.append("print checksum %s 'crc32" % zel_path)
        expected.append((name + " crc32", str(signed32(zlib.crc32(data)))))
        lines.append("print checksum %s 'adler32" % zel_path)
        expected.append((name + " adler32", str(signed32(zlib.adler32(data)))))
        lines.append("print enbase/base checksum/with %s 'sha256 {key} 16" % zel_path)
        expected.append((name + " hmac", hmac.new(b"key", data, "sha256").hexdigest().upper()))
    printed = run_zel(workdir, lines)
    check(len(printed) == len(expected), "one line per file checksum")
    for (what, value), line in zip(expected, printed):
        check(line == value, "checksum of the file " + what)


def main():
    data_sets = samples()
    with tempfile.TemporaryDirectory(prefix="zel-codecs-") as workdir:
        zel_to_others(workdir, data_sets)
        others_to_zel(workdir, data_sets)
        file_checksums(workdir, data_sets)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
