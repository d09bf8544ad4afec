#!/usr/bin/env python3
# Build-time generator of the case folding tables: reads the simple upper and lower case mappings
# (fields 12 and 13) of UnicodeData.txt and writes them as sorted pair lists, one list per
# direction for the BMP and one for the supplementary planes, included by runtime/casefold.cpp.
# Usage: gen_casefold.py UnicodeData.txt OUTPUT
import sys


def read_pairs(path):
    upper, lower = [], []
    with open(path, encoding="utf-8") as data:
        for line in data:
            fields = line.rstrip("\n").split(";")
            if len(fields) < 15:
                continue
            code_point = int(fields[0], 16)
            if fields[12]:
                upper.append((code_point, int(fields[12], 16)))
            if fields[13]:
                lower.append((code_point, int(fields[13], 16)))
    return sorted(upper), sorted(lower)


def emit(out, name, pairs):
    out.write(f"constexpr Pair {name}[] = {{\n")
    for i in range(0, len(pairs), 4):
        row = ", ".join(f"{{0x{a:X}, 0x{b:X}}}" for a, b in pairs[i:i + 4])
        out.write(f"    {row},\n")
    out.write("};\n\n")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_casefold.py UnicodeData.txt OUTPUT")
    upper, lower = read_pairs(sys.argv[1])
    if not upper or not lower:
        sys.exit(f"gen_casefold.py: no case mappings found in {sys.argv[1]}")
    with open(sys.argv[2], "w", encoding="ascii") as out:
        out.write("// Generated at build time by runtime/gen_casefold.py from UnicodeData.txt.\n"
                  "// Simple case mappings as {code point, mapped code point}, sorted.\n\n")
        emit(out, "kToUpperBmp", [p for p in upper if p[0] <= 0xFFFF])
        emit(out, "kToLowerBmp", [p for p in lower if p[0] <= 0xFFFF])
        emit(out, "kToUpperSupplementary", [p for p in upper if p[0] > 0xFFFF])
        emit(out, "kToLowerSupplementary", [p for p in lower if p[0] > 0xFFFF])


if __name__ == "__main__":
    main()
