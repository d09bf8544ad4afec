#!/usr/bin/env python3
"""Writes a program list for the differential check: short one-line programs that mix parens,
calls, operators, copies, maps, strings, blocks, objects, functions and errors caught with try,
each as a source string on a line of its own (the format `zel_lang_tests --programs` reads).

The programs are random but fixed: the same seeds give the same list on every machine (only
random.Random's documented integer and choice methods are used). Programs that raise errors are
expected; what matters is that a run with and without the collector's stress mode answers alike.

    gen_programs.py [--count N] [--seed S] OUT
"""
import argparse
import random

WORDS = ["a", "b", "c", "k", "key", "name"]
STRINGS = ["", "a", "ab", "abc", "Hello", "x y", "%41", "a^/b", "ÄÖü", "日本"]
SCALARS = ["0", "1", "2", "-3", "42", "1.5", "-0.25", "$1.50", "10%", "1x2", "3x-4", "1.2.3",
           "#\"a\"", "#\"Z\"", "10:30", "0:0:1.5", "1-Jan-2000", "none", "true", "false",
           "'w", "#iss", "%file.txt", "http://host/p?q=1", "<tag>", "me@host", "#{0102FF}"]


class Gen:
    def __init__(self, seed):
        self.r = random.Random(seed)

    def pick(self, items):
        return items[self.r.randrange(len(items))]

    def chance(self, percent):
        return self.r.randrange(100) < percent

    # --- Literals

    def string_literal(self):
        return '"' + self.pick(STRINGS) + '"'

    def block_literal(self, depth):
        items = []
        for _ in range(self.r.randrange(4)):
            kind = self.r.randrange(5)
            if kind == 0:
                items.append(self.string_literal())
            elif kind == 1 and depth > 0:
                items.append(self.block_literal(depth - 1))
            elif kind == 2:
                items.append(self.pick(WORDS))
            else:
                items.append(self.pick(SCALARS))
        return "[" + " ".join(items) + "]"

    def map_spec(self, depth):
        pairs = []
        for _ in range(self.r.randrange(4)):
            key = self.pick(WORDS) if self.chance(60) else self.string_literal()
            if self.chance(20):
                key = key.upper()
            pairs.append(key + " " + (self.value(depth - 1) if self.chance(30) else
                                      self.pick(SCALARS + ['"s"', "[1 2]"])))
        return "[" + " ".join(pairs) + "]"

    def object_spec(self, depth):
        fields = []
        for word in self.r.sample(WORDS, self.r.randrange(1, 4)):
            fields.append(word + ": " + self.value(depth - 1))
        return "[" + " ".join(fields) + "]"

    # --- Expressions by what they give

    def number(self, depth):
        if depth <= 0:
            return self.pick(["0", "1", "2", "7", "-1", "2.5", "100"])
        choices = [
            lambda: self.pick(["3", "-2", "1.5", "1000000", "2147483647"]),
            lambda: "length? " + self.series(depth - 1),
            lambda: "index? " + self.series(depth - 1),
            lambda: "absolute " + self.number(depth - 1),
            lambda: "negate " + self.number(depth - 1),
            lambda: self.number(depth - 1) + " " + self.pick(["+", "-", "*", "/", "%", "**"]) +
            " " + self.number(depth - 1),
            lambda: "(" + self.number(depth - 1) + ")",
            lambda: "power " + self.number(depth - 1) + " " + self.pick(["0", "1", "2", "3"]),
            lambda: "round " + self.number(depth - 1),
            lambda: "pick " + self.block(depth - 1) + " " + self.pick(["1", "2", "0", "-1"]),
            lambda: "x",
        ]
        return self.pick(choices)()

    def string(self, depth):
        if depth <= 0:
            return self.string_literal()
        choices = [
            lambda: self.string_literal(),
            lambda: "copy " + self.string(depth - 1),
            lambda: "form " + self.value(depth - 1),
            lambda: "mold " + self.value(depth - 1),
            lambda: "mold/all " + self.value(depth - 1),
            lambda: "to string! " + self.value(depth - 1),
            lambda: "copy/part " + self.string(depth - 1) + " " + self.pick(["0", "1", "2", "9"]),
            lambda: "at " + self.string(depth - 1) + " " + self.pick(["1", "2", "3"]),
            lambda: "next " + self.string(depth - 1),
            lambda: "enhex " + self.string(depth - 1),
            lambda: "dehex " + self.string(depth - 1),
            lambda: "(" + self.string(depth - 1) + ")",
            lambda: "to-local-file %" + self.pick(["a", "a/b", "c.txt"]),
            lambda: "s",
        ]
        return self.pick(choices)()

    def block(self, depth):
        if depth <= 0:
            return self.block_literal(1)
        choices = [
            lambda: self.block_literal(2),
            lambda: "copy " + self.block(depth - 1),
            lambda: "copy/deep " + self.block(depth - 1),
            lambda: "copy/part " + self.block(depth - 1) + " " + self.pick(["0", "1", "2"]),
            lambda: "reduce [" + " ".join(self.value(depth - 1)
                                          for _ in range(self.r.randrange(4))) + "]",
            lambda: "compose [" + self.value(depth - 1) + " (" + self.value(depth - 1) + ") [" +
            self.value(depth - 1) + "]]",
            lambda: "append copy " + self.block(depth - 1) + " " + self.value(depth - 1),
            lambda: "head insert copy " + self.block(depth - 1) + " " + self.value(depth - 1),
            lambda: "reverse copy " + self.block(depth - 1),
            lambda: "remove copy " + self.block(depth - 1),
            lambda: "head change copy " + self.block(depth - 1) + " " + self.value(depth - 1),
            lambda: "next " + self.block(depth - 1),
            lambda: "skip " + self.block(depth - 1) + " " + self.pick(["1", "2", "-1"]),
            lambda: "transcode " + self.string(depth - 1),
            lambda: "reflect " + self.object(depth - 1) + " " + self.pick(["'words", "'values"]),
            lambda: "(" + self.block(depth - 1) + ")",
            lambda: "b",
        ]
        return self.pick(choices)()

    def series(self, depth):
        return self.string(depth) if self.chance(50) else self.block(depth)

    def map(self, depth):
        choices = [
            lambda: "make map! " + self.map_spec(depth),
            lambda: "copy " + self.map(depth - 1) if depth > 0 else "make map! []",
            lambda: "extend make map! [] " + self.map_spec(depth),
            lambda: "m",
        ]
        return self.pick(choices)()

    def object(self, depth):
        choices = [
            lambda: "make object! " + self.object_spec(depth),
            lambda: "construct " + self.object_spec(0),
            lambda: "make o " + self.object_spec(depth),
            lambda: "o",
        ]
        return self.pick(choices)()

    def logic(self, depth):
        if depth <= 0:
            return self.pick(["true", "false", "none"])
        op = self.pick(["=", "<>", "==", "<", ">", "<=", ">=", "=?", "and", "or", "xor"])
        choices = [
            lambda: self.left(depth - 1) + " " + op + " " + self.value(depth - 1),
            lambda: "not " + self.value(depth - 1),
            lambda: "same? " + self.value(depth - 1) + " " + self.value(depth - 1),
            lambda: "odd? " + self.number(depth - 1),
            lambda: "value? '" + self.pick(WORDS + ["x", "s", "undefined-word"]),
        ]
        return self.pick(choices)()

    # A value made by a paren or a call: what an infix operator finds on its left.
    def left(self, depth):
        made = self.pick([self.block, self.string, self.map, self.object, self.number])(depth)
        if self.chance(50):
            return "(" + made + ")"
        return made

    def control(self, depth):
        choices = [
            lambda: "try [" + self.value(depth - 1) + "]",
            lambda: "either " + self.logic(depth - 1) + " [" + self.value(depth - 1) + "] [" +
            self.value(depth - 1) + "]",
            lambda: "if " + self.logic(depth - 1) + " [" + self.value(depth - 1) + "]",
            lambda: "all [" + self.value(depth - 1) + " " + self.value(depth - 1) + "]",
            lambda: "any [" + self.value(depth - 1) + " " + self.value(depth - 1) + "]",
            lambda: "do [" + self.value(depth - 1) + "]",
            lambda: "catch [throw " + self.value(depth - 1) + "]",
            lambda: "switch " + self.pick(["1", "2", '"a"']) + " [1 [" + self.value(depth - 1) +
            "] 2 [" + self.value(depth - 1) + "]]",
            lambda: "case [" + self.logic(depth - 1) + " [" + self.value(depth - 1) + "] true [" +
            self.value(depth - 1) + "]]",
            lambda: "apply :" + self.pick(["append", "insert", "add"]) + " [copy " +
            self.block(depth - 1) + " " + self.value(depth - 1) + "]",
            lambda: "repeat i 3 [" + self.value(depth - 1) + "]",
            lambda: "loop 2 [" + self.value(depth - 1) + "]",
            lambda: "f " + self.value(depth - 1),
            lambda: "g " + self.value(depth - 1) + " " + self.value(depth - 1),
            lambda: "type? " + self.value(depth - 1),
            lambda: "reduce/into [" + self.value(depth - 1) + " " + self.value(depth - 1) +
            "] " + self.pick(["copy []", "make block! 1", "copy b", "tail copy b"]),
            lambda: "compose/deep [" + self.value(depth - 1) + " [(" + self.value(depth - 1) +
            ")] (" + self.value(depth - 1) + ")]",
            lambda: "compose/into [(" + self.value(depth - 1) + ") (" + self.block(depth - 1) +
            ")] copy []",
            lambda: "compose/only [(" + self.block(depth - 1) + ") (" + self.value(depth - 1) +
            ")]",
            lambda: "do " + self.pick(['"1 + 2"', "mold " + self.block(depth - 1),
                                       "form " + self.value(depth - 1)]),
            lambda: "catch/name [throw/name " + self.value(depth - 1) + " 'n] 'n",
            lambda: "n: 0 while [n < 2][n: n + 1 " + self.value(depth - 1) + "]",
            lambda: "f2: function [p][q: " + self.value(depth - 1) + " reduce [p q]] f2 " +
            self.value(depth - 1),
            lambda: "r: func [p /opt o2][reduce [p o2]] r/opt " + self.value(depth - 1) + " " +
            self.value(depth - 1),
            lambda: "has [t][t: " + self.value(depth - 1) + " reduce [t]]",
        ]
        return self.pick(choices)()

    def access(self, depth):
        word = self.pick(WORDS)
        choices = [
            lambda: "o/" + word,
            lambda: "m/" + word,
            lambda: "select " + self.map(depth - 1) + " " + self.pick(["'" + word,
                                                                    '"' + word + '"']),
            lambda: "get in " + self.object(depth - 1) + " '" + word,
            lambda: "b/" + self.pick(["1", "2"]),
            lambda: "put m '" + word + " " + self.value(depth - 1),
            lambda: "o/" + word + ": " + self.value(depth - 1),
            lambda: "m/" + word + ": " + self.value(depth - 1),
            lambda: "h/" + self.pick(["a", "b"]) + ": " + self.value(depth - 1),
            lambda: "do bind [a: " + self.value(depth - 1) + "] h",
            lambda: "last-change",
            lambda: "b/(" + self.number(depth - 1) + ")",
            lambda: "poke copy " + self.block(depth - 1) + " 1 " + self.value(depth - 1),
            lambda: "swap copy " + self.block(depth - 1) + " copy " + self.block(depth - 1),
            lambda: "take/last copy " + self.block(depth - 1),
            lambda: "remove/key copy " + self.map(depth - 1) + " '" + word,
            lambda: "find " + self.map(depth - 1) + " '" + word,
            lambda: "reflect " + self.map(depth - 1) + " " + self.pick(["'words", "'values",
                                                                     "'body"]),
            lambda: "set [p q] reduce [" + self.value(depth - 1) + " " + self.value(depth - 1) +
            "] reduce [p q]",
            lambda: "print " + self.block(depth - 1),
            lambda: "m/(" + self.string(depth - 1) + "): " + self.value(depth - 1),
            lambda: "m/(" + self.string(depth - 1) + ")",
            lambda: "put m " + self.string(depth - 1) + " " + self.value(depth - 1),
            lambda: "select m " + self.string(depth - 1),
            lambda: "form try [" + self.failing(depth - 1) + "]",
            lambda: "mold try [" + self.failing(depth - 1) + "]",
            lambda: "t: " + self.value(depth - 1) + " u: reduce [t t] t = u/1",
            # Past the 32 cells print reduces into before it grows its scratch block.
            lambda: "print [" + " ".join(self.string(1) for _ in range(34)) + "]",
        ]
        return self.pick(choices)()

    def failing(self, depth):
        choices = [
            lambda: "1 / 0",
            lambda: "make error! " + self.string(depth - 1),
            lambda: self.left(depth - 1) + " + " + self.string(depth - 1),
            lambda: "undefined-word",
            lambda: "pick " + self.block(depth - 1) + " 'w",
            lambda: "to integer! " + self.string(depth - 1),
            lambda: "o/missing",
        ]
        return self.pick(choices)()

    def value(self, depth):
        if depth <= 0:
            return self.pick(SCALARS + [self.string_literal(), self.block_literal(0)])
        kind = self.r.randrange(100)
        if kind < 12:
            return self.number(depth)
        if kind < 26:
            return self.string(depth)
        if kind < 42:
            return self.block(depth)
        if kind < 50:
            return self.map(depth)
        if kind < 57:
            return self.object(depth)
        if kind < 70:
            return self.logic(depth)
        if kind < 84:
            return self.control(depth)
        if kind < 92:
            return self.access(depth)
        if kind < 95:
            return self.failing(depth)
        return self.pick(SCALARS)

    # --- Programs

    def program(self):
        depth = self.r.randrange(2, 5)
        parts = []
        # Words the expressions refer to, set now and then so that later programs find them.
        if self.chance(15):
            parts.append("x: " + self.number(depth - 1))
        if self.chance(15):
            parts.append("s: " + self.string(depth - 1))
        if self.chance(15):
            parts.append("b: " + self.block(depth - 1))
        if self.chance(10):
            parts.append("m: " + self.map(depth - 1))
        if self.chance(10):
            parts.append("o: " + self.object(depth - 1))
        if self.chance(5):
            parts.append("f: func [v][reduce [v " + self.value(0) + "]]")
        if self.chance(5):
            parts.append("g: func [p q /local t][t: " + self.pick(["p", "q", "copy [p q]"]) +
                         " reduce [t p q]]")
        if self.chance(8):
            parts.append("print " + self.value(depth - 1))
        shape = self.r.randrange(4)
        if shape == 0:
            # The shape that left operands of infix operators were lost in.
            op = self.pick(["=", "==", "<>", "=?", "+", "<"])
            parts.append(self.left(depth) + " " + op + " " + self.value(depth - 1))
        else:
            parts.append(self.value(depth))
        return " ".join(parts)


PRELUDE = [
    # Every word the programs name holds a value before they run.
    'x: 1 s: "str" b: [1 "two" [3]] m: make map! [a 1 "b" [2]] '
    'o: make object! [a: 1 b: "x" c: [1 2] k: none key: none name: "n"] '
    'f: func [v][reduce [v]] g: func [p q][reduce [q p]] last-change: none '
    'h: make object! [a: 1 b: none on-change*: func [w o n][last-change: reduce [w o n]]]',
]


def write_list(path, programs, note):
    """Writes the programs as a program list, one source string a line."""
    lines = ["; Generated by gen_programs.py (%s): do not edit." % note]
    for text in programs:
        # Braces hold any text but unbalanced braces, which the generator never makes; a caret
        # is the escape character inside them.
        lines.append("{" + text.replace("^", "^^") + "}")
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    gen = Gen(args.seed)
    programs = PRELUDE + [gen.program() for _ in range(args.count)]
    write_list(args.out, programs, "--count %d --seed %d" % (args.count, args.seed))


if __name__ == "__main__":
    main()
