#include "csv_conversion.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "capture_decoding.h"
#include "csv_output.h"
#include "program_texts.h"

namespace kvx {

namespace {

constexpr std::string_view kSeparator = ",     ";  // between the fields of a row
constexpr int32_t kMonthsInYear = 12;
constexpr int32_t kLargestYear = 99;

// Malformed headers can drive the clock's fields far; they wrap as 32-bit numbers do.
int32_t Add(int32_t a, int32_t b) {
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
};

// Days of a month of a two-digit year; a month outside 1-12 keeps the previous count.
int32_t DaysInMonth(int32_t month, int32_t year, int32_t previous) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > kMonthsInYear) return previous;
  if (month == 2 && year % 4 == 0) return 29;
  return kDays[month - 1];
}

// The year after 99 is 0.
void WrapYear(ComputedClock& clock) {
  if (clock.year > kLargestYear) clock.year %= kLargestYear + 1;
}

// Moves the clock on by one interval. Each carry of the time of day happens at most once.
void Advance(ComputedClock& clock, const HeaderRecord& header, bool absolute) {
  clock.millisecond = Add(clock.millisecond, header.intervalMilliseconds);
  clock.second = Add(clock.second, header.intervalSeconds);
  clock.minute = Add(clock.minute, header.intervalMinutes);
  if (clock.millisecond >= 1000) {
    clock.millisecond -= 1000;
    clock.second = Add(clock.second, 1);
  }
  if (clock.second >= 60) {
    clock.second -= 60;
    clock.minute = Add(clock.minute, 1);
  }
  if (clock.minute >= 60) {
    clock.minute -= 60;
    clock.hour = Add(clock.hour, 1);
  }
  if (!absolute) return;

  if (clock.hour >= 24) {
    clock.hour -= 24;
    clock.day = Add(clock.day, 1);
  }
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
}

// Sets the date and time of an absolute group from its start time, one interval early.
void StartAt(ComputedClock& clock, const HeaderRecord& header) {
  clock.second = ReadDecimal(header.CS) - header.intervalSeconds;
  clock.minute = ReadDecimal(header.CP) - header.intervalMinutes;
  clock.hour = ReadDecimal(header.CT);
  clock.year = ReadDecimal(header.CY);
  clock.month = ReadDecimal(header.CM);
  clock.day = ReadDecimal(header.CD);
  clock.daysInMonth = DaysInMonth(clock.month, clock.year, clock.daysInMonth);
}

// Numbers are written here rather than by printf, so that no locale can change them.
void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end.ptr);
}

// A number right-aligned in two characters.
void AppendTwoWide(std::string& out, int32_t value) {
  if (value >= 0 && value < 10) out += ' ';
  AppendNumber(out, value);
}

void AppendValue(std::string& out, const SampleValue& value) {
  switch (value.kind) {
    case SampleValue::Sentinel7FFF:
      out += "32767";
      return;
    case SampleValue::Sentinel8001:
      out += "-32767";
      return;
    case SampleValue::Measured: {
      // Tenths with one decimal, as "%.1f" prints tenths / 10.0.
      const int64_t tenths = value.tenths;
      const int64_t magnitude = tenths < 0 ? -tenths : tenths;
      if (tenths < 0) out += '-';
      AppendNumber(out, magnitude / 10);
      out += '.';
      out += static_cast<char>('0' + magnitude % 10);
      return;
    }
  }
}

void AppendClock(std::string& out, int32_t hour, int32_t minute, int32_t second) {
  AppendTwoWide(out, hour);
  out += ':';
  AppendTwoWide(out, minute);
  out += ':';
  AppendTwoWide(out, second);
}

std::string HeaderLines(int instrumentKind, const HeaderRecord& header, const std::string& title,
                        bool absolute) {
  std::string lines;
  lines.append(texts::kFileNameLabel).append(title).append("\n");
  lines.append(texts::kStartTimeLabel)
      .append(header.CY)
      .append(texts::kYearSuffix)
      .append(header.CM)
      .append(texts::kMonthSuffix)
      .append(header.CD)
      .append(texts::kDaySuffix)
      .append(header.CT)
      .append(texts::kHourSuffix)
      .append(header.CP)
      .append(texts::kMinuteSuffix)
      .append(header.CS)
      .append(texts::kSecondSuffix)
      .append("\n");
  if (header.KM == "0") {
    lines.append(texts::kIntervalLabel).append(header.ItP).append("\n");
    lines.append(absolute ? texts::kAbsoluteTimeColumns : texts::kRelativeTimeColumns);
    lines.append(header.Cdo).append("\n");
  } else if (header.KM == "4") {
    lines.append(instrumentKind == 1 ? texts::kValueColumns : texts::kMeasurementTimeColumns);
    lines.append(header.Cdo).append("\n");
  }
  return lines;
}

// The row of a sample of a group with a time column ("0"), timed by the computed clock.
void TimedRow(int32_t index, bool absolute, const ComputedClock& clock, const SampleValue& value,
              std::string& row) {
  AppendNumber(row, index);
  row += kSeparator;
  if (absolute) {
    AppendNumber(row, clock.year);
    row += '/';
    AppendNumber(row, clock.month);
    row += '/';
    AppendNumber(row, clock.day);
    row += kSeparator;
  }
  AppendClock(row, clock.hour, clock.minute, clock.second);
  row += kSeparator;
  AppendValue(row, value);
  row += '\n';
}

// The row of a kind-1 sample of a group without a time column ("4").
void ValueRow(int32_t index, const SampleValue& value, std::string& row) {
  AppendNumber(row, index);
  row += kSeparator;
  AppendValue(row, value);
  row += '\n';
}

// The row of a kind-2 sample of a group without a computed time ("4"): the sample's own
// measurement clock, two hexadecimal digits each for hours, minutes and seconds.
void MeasurementClockRow(int32_t index, std::string_view sample, TransferState& transfer,
                         std::string& row) {
  const std::string_view LCstr2 = Left(sample, 4);
  const std::string_view MCstr2 = Mid(sample, 4, 4);
  const std::string_view RCstr2 = Right(sample, 4);
  const SampleValue value = DecodeSample(LCstr2);
  if (value.kind == SampleValue::Measured) transfer.scaledValue = value.tenths / 10.0;
  AppendNumber(row, index);
  row += kSeparator;
  AppendClock(row, ReadHexadecimal(Right(MCstr2, 2)), ReadHexadecimal(Left(RCstr2, 2)),
              ReadHexadecimal(Right(RCstr2, 2)));
  row += kSeparator;
  AppendValue(row, value);
  row += '\n';
}

// A group that could not be written to its end: its file is gone, and the walk ends.
ConversionOutcome StopInGroup(TransferState& transfer, ConversionOutcome& outcome,
                              ConversionEnd end) {
  transfer.sampleIndex = 0;
  outcome.end = end;
  return outcome;
}

// What is odd about a group whose header record starts at `p`: cut short, or holding other
// characters than hexadecimal digits among its samples.
void NoteOddGroup(std::string_view capture, std::size_t p, std::size_t sampleSize,
                  const HeaderRecord& header, int32_t group, const std::string& file,
                  ConversionOutcome& outcome) {
  GroupNotice notice;
  notice.group = group;
  notice.file = file;
  notice.headerLength = Mid(capture, p, kHeaderRecordSize).size();
  notice.declaredSamples = header.sampleCount;
  const std::size_t wanted = static_cast<std::size_t>(header.sampleCount) * sampleSize;
  const std::string_view samples = Mid(capture, p + kHeaderRecordSize, wanted);
  notice.presentSamples = static_cast<int32_t>(samples.size() / sampleSize);
  const std::size_t other = samples.find_first_not_of("0123456789ABCDEFabcdef");
  notice.hasNonHexadecimal = other != std::string_view::npos;
  if (notice.hasNonHexadecimal) notice.nonHexadecimal = p + kHeaderRecordSize + other;
  if (notice.headerLength < kHeaderRecordSize || samples.size() < wanted ||
      notice.hasNonHexadecimal) {
    outcome.notices.push_back(notice);
  }
}

// How many samples pass between two looks at whether a stop was asked for.
constexpr int32_t kSamplesBetweenStopChecks = 4096;

}  // namespace

ConversionOutcome ConvertCapture(int instrumentKind, int32_t displayMode, OperatorSide& ui,
                                 FileSystem& files, TransferState& transfer) {
  ConversionOutcome outcome;
  // The working buffer holds the capture as it was stored, read whole.
  const std::size_t capacity =
      static_cast<std::size_t>(std::max<int32_t>(0, transfer.payloadLength));
  std::unique_ptr<char, void (*)(void*)> buffer(static_cast<char*>(std::malloc(capacity + 1)),
                                                std::free);
  if (!buffer) {
    ui.ShowMessage(std::string(texts::kNoMemory));
    std::exit(1);  // NOLINT(concurrency-mt-unsafe): no memory ends the program, as it always has.
  }
  std::size_t length = 0;
  if (!files.ReadFileBytes(transfer.capturePath, buffer.get(), capacity, &length)) {
    ui.ShowMessage(std::string(texts::kCaptureNotOpened));
    outcome.end = ConversionEnd::CaptureNotOpened;
    return outcome;
  }
  const std::string_view capture(buffer.get(), length);

  const bool absolute = displayMode == 1;
  const std::size_t sampleSize = instrumentKind == 2 ? 12 : 4;
  ComputedClock clock;
  int32_t group = 0;
  for (std::size_t p = 0; p < capture.size();) {
    ++group;
    if (ui.StopRequested()) return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
    const HeaderRecord header = DecodeHeaderRecord(Mid(capture, p, kHeaderRecordSize));
    transfer.sampleCount = header.sampleCount;
    // One interval early, so that the first advance brings the first sample to the start.
    if (header.ImS == "83") {
      clock.millisecond = -header.intervalMilliseconds;
    } else if (header.ImS == "00") {
      clock.second = -header.intervalSeconds;
      clock.minute = -header.intervalMinutes;
    }

    ConversionEnd failure = ConversionEnd::CsvNotWritten;
    std::unique_ptr<CsvFile> file = OpenNextCsvFile(ui, files, transfer, &failure);
    NoteOddGroup(capture, p, sampleSize, header, group, file ? file->Title() + ".csv" : "",
                 outcome);
    if (!file) return StopInGroup(transfer, outcome, failure);
    if (!file->Append(HeaderLines(instrumentKind, header, file->Title(), absolute))) {
      return StopInGroup(transfer, outcome, ConversionEnd::CsvNotWritten);
    }
    const bool timed = header.KM == "0";
    if (timed && absolute) StartAt(clock, header);
    p += kHeaderRecordSize;

    // Every sample consumes its characters and its number, whether or not it makes a row; a
    // group of another layout makes none.
    if (!timed && header.KM != "4") {
      p += static_cast<std::size_t>(transfer.sampleCount) * sampleSize;
      transfer.sampleIndex = transfer.sampleCount;
    }
    std::string row;
    for (; transfer.sampleIndex != transfer.sampleCount; ++transfer.sampleIndex, p += sampleSize) {
      if (transfer.sampleIndex % kSamplesBetweenStopChecks == kSamplesBetweenStopChecks - 1 &&
          ui.StopRequested()) {
        return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
      }
      const std::string_view sample = Mid(capture, p, sampleSize);
      row.clear();
      if (timed) {
        Advance(clock, header, absolute);
        TimedRow(transfer.sampleIndex, absolute, clock, DecodeSample(Left(sample, 4)), row);
      } else if (instrumentKind == 2) {
        MeasurementClockRow(transfer.sampleIndex, sample, transfer, row);
      } else {
        ValueRow(transfer.sampleIndex, DecodeSample(sample), row);
      }
      if (!file->Append(row)) return StopInGroup(transfer, outcome, ConversionEnd::CsvNotWritten);
    }
    // A stop that came while the group was written leaves no file that looks complete.
    if (ui.StopRequested()) return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
    if (!file->Finish()) return StopInGroup(transfer, outcome, ConversionEnd::CsvNotWritten);
    transfer.sampleIndex = 0;
    clock.hour = clock.minute = clock.second = clock.millisecond = 0;
  }
  return outcome;
}

}  // namespace kvx
