#!/usr/bin/env python3
# Oracle for money! arithmetic, rounding and comparison: computes the expected results with the
# standard library's decimal module (exact amounts with 5 fraction digits, 17 integer digits,
# extra digits dropped toward zero) on random amounts, and writes them as the case table
# tests/lang/money_oracle.zel. The seed is fixed, so the table only changes with this script.
# Regenerate: python3 tests/oracles/gen_money_cases.py
import decimal
import os
import random
from decimal import Decimal

SCALE = Decimal("0.00001")    # the fifth fraction digit
LIMIT = Decimal(10) ** 17     # amounts stay below this in magnitude
UNITS = 10 ** 5               # units of the fifth fraction digit in one whole

# Wide enough that no quotient or product is cut before the explicit truncation to SCALE, and
# truncating itself, so that cut never rounds up into the kept digits.
CONTEXT = decimal.Context(prec=80, rounding=decimal.ROUND_DOWN, Emax=999, Emin=-999,
                          traps=[decimal.InvalidOperation, decimal.DivisionByZero])
decimal.setcontext(CONTEXT)

TYPE_LIMIT = "error [script type-limit]"
ZERO_DIVIDE = "error [math zero-divide]"
INVALID_TYPE = "error [script invalid-type]"
WRONG_DENOM = "error [script wrong-denom]"

rng = random.Random(20260612)


class Overflow(Exception):
    pass


# --- Amounts and their text ---------------------------------------------------------------------

def checked(amount):
    """A result: past 17 integer digits it cannot be held."""
    if abs(amount) >= LIMIT:
        raise Overflow()
    return amount


def truncated(amount):
    return checked(amount.quantize(SCALE, rounding=decimal.ROUND_DOWN))


def money_text(amount, currency=""):
    """The molded text (and the literal): no grouping, at least 2 fraction digits, more when the
    amount has them; a zero has no sign."""
    units = int(amount.scaleb(5))
    whole, fraction = divmod(abs(units), UNITS)
    digits = "%05d" % fraction
    shown = max(2, len(digits.rstrip("0")))
    sign = "-" if units < 0 else ""
    return "%s%s$%d.%s" % (sign, currency, whole, digits[:shown])


def float_text(value):
    """A float! as mold writes it: the shortest digits, plain for decimal points from -6 to 17
    places, else with an exponent."""
    sign = "-" if str(value).startswith("-") else ""
    if value == 0:
        return sign + "0.0"
    shortest = Decimal(repr(abs(value)))
    digits = "".join(map(str, shortest.as_tuple().digits)).rstrip("0")
    point = shortest.adjusted() + 1  # where the point falls relative to the first digit
    if point > 17 or point < -6:
        return sign + digits[0] + "." + (digits[1:] or "0") + "e" + str(point - 1)
    if point <= 0:
        return sign + "0." + "0" * -point + digits
    return sign + digits[:point].ljust(point, "0") + "." + (digits[point:] or "0")


def random_amount(max_digits=22, exact=False):
    """A random amount with a random count of digits (so that small and large both occur), or
    with exactly max_digits digits."""
    count = max_digits if exact else rng.randint(1, max_digits)
    units = rng.randint(10 ** (count - 1), 10 ** count - 1) if count > 1 else rng.randint(0, 9)
    if rng.random() < 0.15:  # whole amounts, which print with two zeros
        units -= units % UNITS
    amount = Decimal(units).scaleb(-5)
    return -amount if rng.random() < 0.4 else amount


def random_integer():
    bits = rng.randint(0, 31)
    value = rng.randint(-(2 ** bits), 2 ** bits - 1)
    return rng.choice([value, value, value, 2147483647, -2147483648, 0, 1, -1])


def random_float():
    """Float text with up to 8 fraction digits: its money is its shortest digits cut at 5."""
    whole = rng.randint(0, 10 ** rng.randint(0, 9))
    fraction = rng.randint(0, 10 ** 8 - 1)
    text = "%d.%08d" % (whole, fraction)
    text = text.rstrip("0")
    if text.endswith("."):
        text += "0"
    return ("-" + text) if rng.random() < 0.4 else text


def float_as_money(text):
    return truncated(Decimal(repr(float(text))))


# --- Cases --------------------------------------------------------------------------------------

cases = []


def case(source, compute):
    try:
        expected = compute()
    except Overflow:
        expected = TYPE_LIMIT
    except ZeroDivisionError:  # decimal's DivisionByZero too
        expected = ZERO_DIVIDE
    cases.append((source, expected))


def quoted(text):
    return '"' + text + '"'


def divide(a, b):
    if b == 0:
        raise ZeroDivisionError()
    return truncated(a / b)


def remainder(a, b):
    if b == 0:
        raise ZeroDivisionError()
    return checked(a % b)  # the sign of the dividend, as the truncated quotient leaves it


def ratio(a, b):
    """money / money: the nearest double to the exact ratio (int / int rounds correctly)."""
    if b == 0:
        raise ZeroDivisionError()
    return float_text(int(a.scaleb(5)) / int(b.scaleb(5)))


ARITHMETIC = {
    "+": lambda a, b: checked(a + b),
    "-": lambda a, b: checked(a - b),
    "*": lambda a, b: truncated(a * b),
    "/": divide,
}


def money_with_money(count):
    for _ in range(count):
        op = rng.choice(["+", "-", "/", "remainder"])
        if op in "+-":
            a, b = random_amount(), random_amount()
        else:
            a, b = random_amount(), random_amount(rng.randint(1, 22))
        if rng.random() < 0.05:
            b = Decimal(0)
        if op == "remainder":
            source = "remainder %s %s" % (money_text(a), money_text(b))
            case(source, lambda: money_text(remainder(a, b)))
        elif op == "/":
            source = "%s / %s" % (money_text(a), money_text(b))
            case(source, lambda: ratio(a, b))
        else:
            source = "%s %s %s" % (money_text(a), op, money_text(b))
            case(source, lambda: money_text(ARITHMETIC[op](a, b)))


def money_with_integer(count):
    for _ in range(count):
        op = rng.choice(["+", "-", "*", "/", "remainder"])
        a, n = random_amount(rng.randint(1, 20)), random_integer()
        b = Decimal(n)
        left = rng.random() < 0.5 and op in "+-*"
        if op == "remainder":
            source = "remainder %s %d" % (money_text(a), n)
            case(source, lambda: money_text(remainder(a, b)))
        elif left:
            source = "%d %s %s" % (n, op, money_text(a))
            case(source, lambda: money_text(ARITHMETIC[op](b, a)))
        else:
            source = "%s %s %d" % (money_text(a), op, n)
            case(source, lambda: money_text(ARITHMETIC[op](a, b)))


def money_with_float(count):
    for _ in range(count):
        op = rng.choice(["+", "-", "*", "/"])
        a, text = random_amount(rng.randint(1, 18)), random_float()
        left = rng.random() < 0.5 and op != "/"
        b = float_as_money(text)
        if left:
            source = "%s %s %s" % (text, op, money_text(a))
            case(source, lambda: money_text(ARITHMETIC[op](b, a)))
        else:
            source = "%s %s %s" % (money_text(a), op, text)
            case(source, lambda: money_text(ARITHMETIC[op](a, b)))


def currencies(count):
    codes = ["USD", "EUR", "JPY", "CHF"]
    for _ in range(count):
        op = rng.choice(["+", "-", "*", "/"])
        a, b = random_amount(14), random_amount(10)
        x, y = rng.choice(codes), rng.choice(codes + [""])
        if op == "*":
            source = "%s * %d" % (money_text(a, x), int(b))
            case(source, lambda: money_text(truncated(a * int(b)), x))
        elif y and y != x:
            source = "%s %s %s" % (money_text(a, x), op, money_text(b, y))
            cases.append((source, WRONG_DENOM))
        elif op == "/":
            source = "%s / %s" % (money_text(a, x), money_text(b, y))
            case(source, lambda: ratio(a, b))
        else:
            source = "%s %s %s" % (money_text(a, x), op, money_text(b, y))
            case(source, lambda: money_text(ARITHMETIC[op](a, b), x))


def products(count):
    """Amounts and integer factors whose products lie near the limit, so that both sides of
    the overflow are met (money * money is refused, so the factor is an integer)."""
    for _ in range(count):
        factor = rng.choice([rng.randint(2, 2147483647), -rng.randint(2, 2147483647)])
        whole_digits = max(1, min(17, 18 - len(str(abs(factor))) + rng.randint(-1, 1)))
        a = random_amount(whole_digits + 5, exact=True)
        source = "%s * %d" % (money_text(a), factor)
        case(source, lambda: money_text(truncated(a * factor)))


# round: the scale's multiple by the refinement's rule. Decimal's own rounding modes give the
# rules, on the signed value; /half-ceiling is half-up above zero and half-down below.
ROUNDINGS = {
    "": decimal.ROUND_HALF_UP,
    "/even": decimal.ROUND_HALF_EVEN,
    "/down": decimal.ROUND_DOWN,
    "/half-down": decimal.ROUND_HALF_DOWN,
    "/floor": decimal.ROUND_FLOOR,
    "/ceiling": decimal.ROUND_CEILING,
    "/half-ceiling": None,
}


def rounded(amount, scale, refinement):
    if amount == 0 or scale == 0:
        return amount
    mode = ROUNDINGS[refinement]
    if mode is None:
        mode = decimal.ROUND_HALF_UP if amount > 0 else decimal.ROUND_HALF_DOWN
    scale = abs(scale)
    return checked((amount / scale).to_integral_value(rounding=mode) * scale)


def roundings(count):
    scales = ["0.01", "0.05", "0.1", "0.25", "1", "5", "10", "1000", "0.00003", "0.00002", "7"]
    for _ in range(count):
        refinement = rng.choice(list(ROUNDINGS))
        a = random_amount(rng.randint(1, 22))
        kind = rng.choice(["none", "money", "integer", "float", "tie"])
        if kind == "tie":  # an exact half of the scale past a multiple
            scale = Decimal(rng.choice(["0.01", "0.1", "1", "10", "0.00002"]))
            a = (Decimal(rng.randint(-99999, 99999)) * scale + scale / 2).quantize(SCALE)
            kind = "money"
        else:
            scale = Decimal(rng.choice(scales))
        if kind == "none":
            source = "round%s %s" % (refinement, money_text(a))
            scale = Decimal(1)
        elif kind == "integer":
            scale = Decimal(rng.choice([1, 2, 5, 10, 100, 1000, -10]))
            source = "round/to%s %s %d" % (refinement, money_text(a), int(scale))
        elif kind == "float":
            text = format(scale, "f")
            text += "" if "." in text else ".0"
            source = "round/to%s %s %s" % (refinement, money_text(a), text)
        else:
            source = "round/to%s %s %s" % (refinement, money_text(a), money_text(scale))
        case(source, lambda: money_text(rounded(a, scale, refinement)))


def comparisons(count):
    ops = {"<": lambda a, b: a < b, "<=": lambda a, b: a <= b, ">": lambda a, b: a > b,
           ">=": lambda a, b: a >= b, "=": lambda a, b: a == b, "<>": lambda a, b: a != b}
    for _ in range(count):
        op = rng.choice(list(ops))
        a = random_amount()
        b = rng.choice([a, -a, random_amount(), a + SCALE if abs(a + SCALE) < LIMIT else a])
        source = "%s %s %s" % (money_text(a), op, money_text(b))
        cases.append((source, "true" if ops[op](a, b) else "false"))


def float_comparisons(count):
    """Money against a float compares with the float's shortest decimal digits, exactly."""
    ops = {"<": lambda a, b: a < b, ">": lambda a, b: a > b, "=": lambda a, b: a == b}
    for _ in range(count):
        op = rng.choice(list(ops))
        a = random_amount(rng.randint(1, 18))
        text = rng.choice([random_float(), format(a, "f"), format(a + Decimal("0.000001"), "f")])
        if "." not in text:
            text += ".0"
        b = Decimal(repr(float(text)))
        source = "%s %s %s" % (money_text(a), op, text)
        cases.append((source, "true" if ops[op](a, b) else "false"))


def refusals():
    cases.append(("$1 * $2", INVALID_TYPE))
    cases.append(("10 / $2", INVALID_TYPE))
    cases.append(("remainder 10 $3", INVALID_TYPE))
    cases.append(("$99999999999999999.99999 + $0.00001", TYPE_LIMIT))
    cases.append(("-$99999999999999999.99999 - $0.00001", TYPE_LIMIT))
    cases.append(("$99999999999999999.99999 - $0.00001", quoted("$99999999999999999.99998")))


def main():
    money_with_money(900)
    money_with_integer(700)
    money_with_float(500)
    currencies(200)
    products(300)
    roundings(900)
    comparisons(300)
    float_comparisons(300)
    refusals()
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "lang", "money_oracle.zel")
    with open(target, "w") as out:
        out.write("; Generated by tests/oracles/gen_money_cases.py (decimal module, fixed seed); do not\n")
        out.write("; edit: change the script and run python3 tests/oracles/gen_money_cases.py\n")
        for source, expected in cases:
            if not expected.startswith("error"):
                expected = quoted(expected) if not expected.startswith('"') else expected
            out.write("%s  %s\n" % (quoted(source), expected))
    print("%d cases written to %s" % (len(cases), os.path.normpath(target)))


if __name__ == "__main__":
    main()
