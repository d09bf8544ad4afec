#!/usr/bin/env python3
"""Writes tests/lang/roundtrip.zel: generated values of every literal datatype, each of which must
survive mold then load unchanged (one value back, equal to the original, molding the same);
hash!, which has no literal form, molds as code that makes an equal value.

Values are built through make/to or from literal text of random parts, with a fixed seed, so the
table is the same on every run. Regenerate with:
    python3 tests/oracles/gen_roundtrip_cases.py > tests/lang/roundtrip.zel
"""
import datetime
import random
import struct

rng = random.Random(20261209)
PER_TYPE = 60


def zel_string(text):
    """The text as a double-quoted literal, with carets for what would end or bend it."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch == '"':
            out.append('^"')
        elif ch == '^':
            out.append('^^')
        elif code == 10:
            out.append('^/')
        elif code < 32 or code == 127:
            out.append('^(%02X)' % code)
        else:
            out.append(ch)
    return '"' + ''.join(out) + '"'


def pick_text(alphabet, low, high):
    return ''.join(rng.choice(alphabet) for _ in range(rng.randint(low, high)))


LETTERS = 'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ'
DIGITS = '0123456789'
AWKWARD = ' "%;[](){}<>^@#$\'\\/:,.=?&+~!*|\t\n' + 'é漢😀' + '\x01\x7f'


def float32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def random_float():
    kind = rng.random()
    if kind < 0.3:
        return float(rng.randint(-10**6, 10**6))
    if kind < 0.6:
        return round(rng.uniform(-1000, 1000), rng.randint(0, 6))
    return rng.uniform(-1, 1) * 10 ** rng.randint(-30, 30)


def times():
    for _ in range(PER_TYPE):
        seconds = rng.randint(0, 10**7) + rng.choice([0, 0.5, 0.25, 0.125, rng.randint(1, 999) / 1000])
        if rng.random() < 0.3:
            seconds = -seconds
        yield 'to time! %r' % seconds


def dates():
    for _ in range(PER_TYPE):
        day = datetime.date.fromordinal(rng.randint(1, datetime.date(9999, 12, 31).toordinal()))
        parts = [day.day, day.month, day.year]
        shape = rng.random()
        if shape < 0.3:
            yield 'make date! [%d %d %d]' % tuple(parts)
            continue
        h, m, s = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
        if shape < 0.6:
            yield 'make date! [%d %d %d %d %d %d]' % tuple(parts + [h, m, s])
            continue
        zone_hours = rng.randint(-15, 15)
        zone = '%s%d:%02d' % ('-' if zone_hours < 0 else '', abs(zone_hours), rng.choice([0, 15, 30, 45]))
        yield 'make date! [%d %d %d %d:%02d:%02d %s]' % tuple(parts + [h, m, s, zone])


def money():
    codes = ['', '', 'USD', 'EUR', 'JPY', 'ZEL', 'CHF']
    for _ in range(PER_TYPE):
        whole = str(rng.randint(0, 10 ** rng.randint(1, 17) - 1))
        fraction = pick_text(DIGITS, 0, 5)
        sign = rng.choice(['', '', '-'])
        yield sign + rng.choice(codes) + '$' + whole + ('.' + fraction if fraction else '')


def tuples():
    for _ in range(PER_TYPE):
        parts = [str(rng.randint(0, 255)) for _ in range(rng.randint(3, 12))]
        if rng.random() < 0.5:
            yield '.'.join(parts)
        else:
            yield 'to tuple! [%s]' % ' '.join(parts)


def pairs():
    for _ in range(PER_TYPE):
        x, y = (rng.choice([rng.randint(-2**31, 2**31 - 1), rng.randint(-100, 100)]) for _ in range(2))
        yield '%dx%d' % (x, y) if rng.random() < 0.5 else 'make pair! [%d %d]' % (x, y)


def points():
    for _ in range(PER_TYPE):
        coords = [repr(float32(random_float())) for _ in range(rng.choice([2, 3]))]
        yield '(' + ', '.join(coords) + ')'


def texts(datatype, alphabet, low, high, prefix=''):
    for _ in range(PER_TYPE):
        yield 'to %s %s' % (datatype, zel_string(prefix + pick_text(alphabet, low, high)))


def emails():
    # The lexer reads a token that starts with a digit as a number: such addresses have no
    # literal form.
    name = LETTERS + DIGITS + '._-'
    for _ in range(PER_TYPE):
        user = rng.choice(LETTERS) + pick_text(name, 0, 9)
        yield 'to email! %s' % zel_string(user + '@' + pick_text(name, 1, 12))


def tags():
    # A tag's text cannot hold a lone double quote or start with "=" (read as the word <=).
    for _ in range(PER_TYPE):
        yield 'to tag! %s' % zel_string(rng.choice(LETTERS) + pick_text(LETTERS + DIGITS + ' =/-:', 0, 11))


def maps():
    for _ in range(PER_TYPE // 2):
        entries = []
        for _ in range(rng.randint(0, 6)):
            key = rng.choice([pick_text(LETTERS, 1, 6), zel_string(pick_text(LETTERS + ' ', 1, 6)),
                              str(rng.randint(-99, 99))])
            value = rng.choice([str(rng.randint(-99, 99)), zel_string(pick_text(AWKWARD, 0, 4)),
                                '[%d %s]' % (rng.randint(0, 9), pick_text(LETTERS, 1, 3))])
            entries.append(key + ' ' + value)
        yield 'make map! [%s]' % ' '.join(entries)


def hashes():
    for _ in range(PER_TYPE // 2):
        items = [rng.choice([str(rng.randint(-99, 99)), pick_text(LETTERS, 1, 5),
                             zel_string(pick_text(AWKWARD, 0, 4))]) for _ in range(rng.randint(0, 8))]
        yield 'make hash! [%s]' % ' '.join(items)


def floats():
    for _ in range(PER_TYPE):
        yield repr(random_float())


def strings():
    for _ in range(PER_TYPE):
        yield zel_string(pick_text(AWKWARD + LETTERS, 0, 12))


GROUPS = [
    ('time!', times()),
    ('date!', dates()),
    ('money!', money()),
    ('tuple!', tuples()),
    ('pair!', pairs()),
    ('point2D! and point3D!', points()),
    ('file!', texts('file!', LETTERS + DIGITS + AWKWARD, 0, 12)),
    ('url!', texts('url!', LETTERS + DIGITS + AWKWARD, 0, 12, prefix='http://host/')),
    ('tag!', tags()),
    ('email!', emails()),
    ('ref!', texts('ref!', LETTERS + DIGITS + '-_.', 1, 12)),
    ('map!', maps()),
    ('hash!', hashes()),  # molded as code that makes an equal hash!
    ('float!', floats()),
    ('string!', strings()),
]


def main():
    print('; Generated by tests/oracles/gen_roundtrip_cases.py: do not edit by hand.')
    print('; Every value must load back from its mold as one value, equal to it and molding the same.')
    print()
    print('"round-trip: func [value /local text loaded] [text: mold value loaded: transcode text '
          'either all [1 = length? loaded equal? value pick loaded 1 text == mold pick loaded 1] '
          '[true] [reduce [text loaded]]] true"  "true"')
    print('"round-trip-code: func [value /local text made] [text: mold value made: do text '
          'either all [equal? value made text == mold made] [true] [reduce [text made]]] true"  "true"')
    for title, cases in GROUPS:
        print()
        print('; ' + title)
        check = 'round-trip-code ' if title == 'hash!' else 'round-trip '
        for source in cases:
            print('%s  "true"' % zel_string(check + source))


if __name__ == '__main__':
    main()
