// date!: a day of the proleptic Gregorian calendar with an optional time of day and zone. Word 1
// packs the UTC date, the time flag and the zone; words 2-3 hold the UTC time of day in seconds.
// Everything a user sees (fields, text) is the local date and time: UTC shifted by the zone.
// Day numbers count from 1 March of year 0 in 64 bits; a date outside the packed year range
// raises script/type-limit instead of wrapping. Holds no node, so nothing here needs rooting.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace date {

// Packed word: year bits 17-31 (signed), time flag 16, month 12-15, day 7-11, zone 0-6 (sign 6,
// hours 2-5, quarter hours 0-1).
constexpr uint32_t kTimeFlag = 0x10000;
constexpr uint32_t kZoneMask = 0x7F;
constexpr int32_t kMinYear = -16384, kMaxYear = 16383;

// Word 1, the packed word (words 2-3, the UTC seconds, are read with cell::get_double).
inline uint32_t packed_of(const Cell& date) { return date.w1; }
inline void set_packed(Cell& date, uint32_t packed) { date.w1 = packed; }

// Accessor numbers: path words and pick indexes.
enum Field : int32_t {
  DATE = 1, YEAR, MONTH, DAY, ZONE, TIME, HOUR, MINUTE, SECOND, WEEKDAY, YEARDAY, TIMEZONE, WEEK,
  ISOWEEK,
};

bool leap_year_q(int64_t year);
// The day number of year/month/day; months outside 1-12 carry into the year, days outside the
// month into the next or previous months.
int64_t day_number(int64_t year, int64_t month, int64_t day);
// The 1-based day of the year of the packed date.
int32_t year_day(uint32_t packed);
// Shifts seconds of the day by the zone bits, carrying whole days; returns the new day number.
int64_t apply_zone(int64_t day_number, double& seconds, uint32_t zone);

// Makes the cell (flags kept) a date of the local year/month/day, time and zone; the time is
// turned into UTC with the zone. The zone is negative when either hours or minutes is; minutes
// are counted in quarters. Callers check the ranges.
Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time,
              int32_t zone_hours, int32_t zone_minutes, bool has_time);
// A date with the time h:m:s plus nanoseconds, zone 0.
Cell* make_at_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                  int32_t minute, int32_t second, int32_t nanosecond);
// A new date cell at the block's tail from the packed word and the time's high and low words
// (the binary value readers).
Cell* make_in(const Cell* block, uint32_t packed, uint32_t high, uint32_t low);
Cell* push(uint32_t packed, double time);

// Seconds since 1-Jan-1970 00:00 UTC, in 64 bits: every date has its exact count.
int64_t to_epoch_seconds(const Cell& date);
// Turns date1 into the time! between the two instants.
void difference(Cell* date1, const Cell* date2);
// Pushes the accessor's value.
Cell* push_field(const Cell& date, int32_t field);

// Move the local date (time and zone kept): to the Monday of ISO week n of its year, to weekday
// n (1 = Monday) of its week, to day n of its year.
void set_iso_week(Cell* date, int32_t n);
void set_weekday(Cell* date, int32_t n);
void set_year_day(Cell* date, int32_t n);

void register_datatype();

}  // namespace date
