// Reading a CSV file that KVX-300 wrote (code page 932, one measurement group per file) back
// into its readings, for kvx-chart.
#ifndef TOOLS_CHART_CSV_READING_H
#define TOOLS_CHART_CSV_READING_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chart {

// What the rows of a group give as the time of each reading.
enum class TimeForm {
  Relative,          // "h:m:s" since the start of the measurement
  Calendar,          // "yy/m/d" and "h:m:s"
  MeasurementClock,  // the instrument's own clock ("h:m:s"), kind 2 without computed times
  None,              // no times: only the sample number
};

struct Reading {
  enum Kind { Measured, OverRange, UnderRange };  // 32767 and -32767 mark the last two
  int64_t number = 0;                             // the sample number of the row
  Kind kind = Measured;
  int64_t tenths = 0;   // the value in tenths of the unit, for a measured reading
  int64_t seconds = 0;  // the row's time in seconds (calendar: since 2000-01-01 00:00:00)
};

// A measurement group as its CSV file holds it. Texts are UTF-8.
struct Group {
  std::string title;         // "QM-0001"
  std::string start;         // the start time as "07/03/15 10:30:00"
  int64_t startSeconds = 0;  // the start time in seconds since 2000-01-01 00:00:00
  std::string interval;      // as written: "01分00秒", "500ミリ秒", or empty
  // The interval in milliseconds; 0 when it is not given or cannot be read.
  int64_t intervalMilliseconds = 0;
  std::string unit;  // "℃", "°F", or whatever the file gives (may be empty)
  TimeForm form = TimeForm::None;
  std::vector<Reading> readings;
};

// Reads the bytes of a CSV file into `group`. False, with a one-line reason in `error` (UTF-8),
// when the bytes are not a KVX-300 CSV file: not code page 932 text, another layout, a row that
// is not one of its own, a file that ends in the middle of a line, or an empty file.
bool ReadKvxCsv(std::string_view cp932, Group* group, std::string* error);

}  // namespace chart

#endif  // TOOLS_CHART_CSV_READING_H
