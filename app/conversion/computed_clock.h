// The computed clock of a group with a time column: the time of each row, moved on by the
// group's interval from its start, with the calendar's carries in absolute time. Inline, as it
// runs once a row.
#ifndef KVX_COMPUTED_CLOCK_H
#define KVX_COMPUTED_CLOCK_H

#include <cstdint>

#include "capture_decoding.h"

namespace kvx {

constexpr int32_t kMonthsInYear = 12;
constexpr int32_t kLargestYear = 99;

// Malformed headers can drive the clock's fields far; they wrap as 32-bit numbers do.
inline int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The clock that gives each row of a timed group its time. All fields start at 0 with each
// conversion; the date fields carry over from group to group until an absolute group sets them.
struct ComputedClock {
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
  int32_t year = 0;  // two digits
  int32_t month = 0;
  int32_t day = 0;
  int32_t daysInMonth = 0;
  // The date is as the carries of a day leave it: moving on without a new day keeps it.
  bool dateSettled = false;
};

// Days of a month of a two-digit year; a month outside 1-12 keeps the previous count.
inline int32_t DaysInMonth(int32_t month, int32_t year, int32_t previous) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > kMonthsInYear) return previous;
  if (month == 2 && year % 4 == 0) return 29;
  return kDays[month - 1];
}

// The year after 99 is 0.
inline void WrapYear(ComputedClock& clock) {
  if (clock.year > kLargestYear) clock.year %= kLargestYear + 1;
}

// Moves the clock on by one interval. Each carry of the time of day happens at most once.
inline void Advance(ComputedClock& clock, const HeaderRecord& header, bool absolute) {
  clock.millisecond = WrappingAdd(clock.millisecond, header.intervalMilliseconds);
  clock.second = WrappingAdd(clock.second, header.intervalSeconds);
  clock.minute = WrappingAdd(clock.minute, header.intervalMinutes);
  if (clock.millisecond >= 1000) {
    clock.millisecond -= 1000;
    clock.second = WrappingAdd(clock.second, 1);
  }
  if (clock.second >= 60) {
    clock.second -= 60;
    clock.minute = WrappingAdd(clock.minute, 1);
  }
  if (clock.minute >= 60) {
    clock.minute -= 60;
    clock.hour = WrappingAdd(clock.hour, 1);
  }
  if (!absolute) return;

  if (clock.hour >= 24) {
    clock.hour -= 24;
    clock.day = WrappingAdd(clock.day, 1);
  } else if (clock.dateSettled) {
    return;
  }
  const ComputedClock before = clock;
  // Until a month of 1-12 has given the days of a month, a day carry could never end: skip it.
  while (clock.daysInMonth > 0 && clock.day > clock.daysInMonth) {
    clock.day -= clock.daysInMonth;
    ++clock.month;
  }
  while (clock.month > kMonthsInYear) {
    clock.month -= kMonthsInYear;
    ++clock.year;
  }
  WrapYear(clock);
  clock.daysInMonth = DaysInMonth(clock.month, clock.year, clock.daysInMonth);
  if (clock.daysInMonth > 0 && clock.day > clock.daysInMonth) {
    clock.day -= clock.daysInMonth;
    ++clock.month;
  }
  if (clock.month > kMonthsInYear) {
    clock.month -= kMonthsInYear;
    ++clock.year;
  }
  WrapYear(clock);
  // The steps above depend on the date alone: a date they leave as it was stays so.
  clock.dateSettled = clock.day == before.day && clock.month == before.month &&
                      clock.year == before.year && clock.daysInMonth == before.daysInMonth;
}

// Sets the date and time of an absolute group from its start time, one interval early.
inline void StartAt(ComputedClock& clock, const HeaderRecord& header) {
  clock.second = ReadDecimal(header.CS) - header.intervalSeconds;
  clock.minute = ReadDecimal(header.CP) - header.intervalMinutes;
  clock.hour = ReadDecimal(header.CT);
  clock.year = ReadDecimal(header.CY);
  clock.month = ReadDecimal(header.CM);
  clock.day = ReadDecimal(header.CD);
  clock.daysInMonth = DaysInMonth(clock.month, clock.year, clock.daysInMonth);
  clock.dateSettled = false;
}

}  // namespace kvx

#endif  // KVX_COMPUTED_CLOCK_H
