#!/usr/bin/env python3
"""Writes tests/lang/date_oracle.zel: date! calendar results checked against Python's datetime
(proleptic Gregorian calendar, years 1..9999): weekday, ISO week, Sunday-based week, day of the
year, the ISO week and ordinal literals, day differences (date - date), date + days, and the
conversions between dates and seconds since 1-Jan-1970 UTC (to integer!, to date!).

Standard library only, fixed seed: the table is the same on every run. Regenerate with:
    python3 tests/oracles/gen_date_cases.py > tests/lang/date_oracle.zel
"""
import datetime
import random

rng = random.Random(20261210)
MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec']
FIRST = datetime.date(1, 1, 1).toordinal()
LAST = datetime.date(9999, 12, 31).toordinal()
EPOCH = datetime.datetime(1970, 1, 1)
INT32 = (-2**31, 2**31 - 1)


def random_date(low=FIRST, high=LAST):
    return datetime.date.fromordinal(rng.randint(low, high))


def literal(d):
    """The date as the language molds it: day-Mon-year, years below 100 padded to 4 digits."""
    return '%d-%s-%s' % (d.day, MONTHS[d.month - 1], ('%04d' if d.year < 100 else '%d') % d.year)


def hms(seconds):
    return '%d:%02d:%02d' % (seconds // 3600, seconds % 3600 // 60, seconds % 60)


def sunday_week(d):
    """Weeks start on Sunday and week 1 holds 1 January: one more than the Sundays after it."""
    jan1 = datetime.date(d.year, 1, 1)
    sundays = sum(1 for k in range(1, (d - jan1).days + 1)
                  if (jan1 + datetime.timedelta(days=k)).isoweekday() == 7)
    return 1 + sundays


def fields_case(d):
    iso_year, iso_week, iso_day = d.isocalendar()
    source = 'd: %s reduce [d/weekday d/isoweek d/yearday d/week pick d 13]' % literal(d)
    yearday = d.timetuple().tm_yday
    week = sunday_week(d)
    return source, '[%d %d %d %d %d]' % (iso_day, iso_week, yearday, week, week)


def year_edge_date():
    """A date in the last or first days of a year, where ISO weeks cross years."""
    year = rng.randint(2, 9998)
    if rng.random() < 0.5:
        return datetime.date(year, 12, rng.randint(28, 31))
    return datetime.date(year, 1, rng.randint(1, 4))


def iso_literal_case(d):
    iso_year, iso_week, iso_day = d.isocalendar()
    if not 1 <= iso_year <= 9999:
        return None
    return '%04d-W%02d-%d = %s' % (iso_year, iso_week, iso_day, literal(d)), 'true'


def ordinal_literal_case(d):
    return '%04d-%03d' % (d.year, d.timetuple().tm_yday), literal(d)


def difference_case(a, b):
    return '%s - %s' % (literal(a), literal(b)), str((a - b).days)


def add_days_case(d):
    n = rng.randint(FIRST - d.toordinal(), LAST - d.toordinal())
    if rng.random() < 0.5:
        n = rng.randint(max(-40000, FIRST - d.toordinal()), min(40000, LAST - d.toordinal()))
    result = d + datetime.timedelta(days=n)
    return '%s + %d' % (literal(d), n), literal(result)


def epoch_case(d):
    seconds_of_day = rng.randint(0, 86399)
    quarters = rng.randint(-15 * 4, 15 * 4) if rng.random() < 0.5 else 0
    zone = ''
    if quarters:
        zone = '%s%02d:%02d' % ('-' if quarters < 0 else '+', abs(quarters) // 4,
                                abs(quarters) % 4 * 15)
    source = 'to integer! %s/%s%s' % (literal(d), hms(seconds_of_day), zone)
    # Local time less the zone, from day ordinals: no datetime past year 1 or 9999 is needed.
    epoch = (d.toordinal() - EPOCH.toordinal()) * 86400 + seconds_of_day - quarters * 900
    if INT32[0] <= epoch <= INT32[1]:
        return source, str(epoch)
    return source, 'error [script type-limit]'


def from_epoch_case():
    n = rng.randint(*INT32)
    t = EPOCH + datetime.timedelta(seconds=n)
    seconds = t.hour * 3600 + t.minute * 60 + t.second
    return 'to date! %d' % n, '%s/%s' % (literal(t.date()), hms(seconds))


def quoted(source):
    return '"%s"' % source


def expected(result):
    return result if result.startswith('error') else quoted(result)


def main():
    groups = [
        ('weekday, ISO week, day of the year, Sunday-based week', [fields_case(random_date()) for _ in range(1200)]),
        ('the same around the turn of the year', [fields_case(year_edge_date()) for _ in range(300)]),
        ('ISO week literals', [c for c in (iso_literal_case(random_date()) for _ in range(400)) if c]),
        ('ordinal literals', [ordinal_literal_case(random_date()) for _ in range(400)]),
        ('date - date in days', [difference_case(random_date(), random_date()) for _ in range(600)]),
        ('date + days', [add_days_case(random_date()) for _ in range(600)]),
        ('to integer!: seconds since 1-Jan-1970 UTC, over the whole calendar',
         [epoch_case(random_date()) for _ in range(300)]),
        ('to integer! within the 32-bit range of seconds',
         [epoch_case(random_date(datetime.date(1901, 12, 14).toordinal(),
                                 datetime.date(2038, 1, 18).toordinal())) for _ in range(300)]),
        ('to date! from seconds since 1-Jan-1970 UTC', [from_epoch_case() for _ in range(300)]),
    ]
    print('; Generated by tests/oracles/gen_date_cases.py: do not edit by hand.')
    print('; Calendar results of date! against an independent calendar implementation.')
    for title, cases in groups:
        print()
        print('; ' + title)
        for source, result in cases:
            print('%s  %s' % (quoted(source), expected(result)))


if __name__ == '__main__':
    main()
