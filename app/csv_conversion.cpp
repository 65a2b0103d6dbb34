#include "csv_conversion.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
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
  // The date is as the carries of a day leave it: moving on without a new day keeps it.
  bool dateSettled = false;
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
void StartAt(ComputedClock& clock, const HeaderRecord& header) {
  clock.second = ReadDecimal(header.CS) - header.intervalSeconds;
  clock.minute = ReadDecimal(header.CP) - header.intervalMinutes;
  clock.hour = ReadDecimal(header.CT);
  clock.year = ReadDecimal(header.CY);
  clock.month = ReadDecimal(header.CM);
  clock.day = ReadDecimal(header.CD);
  clock.daysInMonth = DaysInMonth(clock.month, clock.year, clock.daysInMonth);
  clock.dateSettled = false;
}

// Numbers are written here rather than by printf, so that no locale can change them. Rows are
// built in place in the CSV file's buffer: each Put function writes at `out` and gives the end.
char* PutNumber(char* out, int64_t value) {
  return std::to_chars(out, out + 24, value).ptr;
}

// The numbers 0-99 right-aligned in two characters, as "%2d" prints them: " 0" to "99".
struct TwoWideNumbers {
  char texts[100][2];
  constexpr TwoWideNumbers() : texts() {
    for (int i = 0; i < 100; ++i) {
      texts[i][0] = i < 10 ? ' ' : static_cast<char>('0' + i / 10);
      texts[i][1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr TwoWideNumbers kTwoWideNumbers;

// A number right-aligned in two characters.
char* PutTwoWide(char* out, int32_t value) {
  if (value >= 0 && value < 100) {
    std::memcpy(out, kTwoWideNumbers.texts[value], 2);
    return out + 2;
  }
  return PutNumber(out, value);
}

// The numbers 0-9999 as text without leading zeros, each in 8 bytes that the last gives the
// length of.
struct SmallNumbers {
  static constexpr uint32_t kCount = 10000;
  char texts[kCount][8];
  constexpr SmallNumbers() : texts() {
    for (uint32_t n = 0; n < kCount; ++n) {
      char reversed[4] = {};
      uint32_t length = 0;
      for (uint32_t rest = n; length == 0 || rest != 0; rest /= 10)
        reversed[length++] = static_cast<char>('0' + rest % 10);
      for (uint32_t i = 0; i < length; ++i)
        texts[n][i] = reversed[length - 1 - i];
      texts[n][7] = static_cast<char>(length);
    }
  }
};
constexpr SmallNumbers kSmallNumbers;

// A number of 0-9999; may write up to 8 bytes past its start.
char* PutSmallNumber(char* out, uint32_t value) {
  std::memcpy(out, kSmallNumbers.texts[value], 8);
  return out + kSmallNumbers.texts[value][7];
}

char* PutText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* PutValue(char* out, const SampleValue& value) {
  switch (value.kind) {
    case SampleValue::Sentinel7FFF:
      return PutText(out, "32767");
    case SampleValue::Sentinel8001:
      return PutText(out, "-32767");
    case SampleValue::Measured:
      break;
  }
  // Tenths with one decimal, as "%.1f" prints tenths / 10.0.
  const int64_t tenths = value.tenths;
  const int64_t magnitude = tenths < 0 ? -tenths : tenths;
  *out = '-';
  out += tenths < 0 ? 1 : 0;
  const int64_t whole = magnitude / 10;
  out = whole < SmallNumbers::kCount ? PutSmallNumber(out, static_cast<uint32_t>(whole))
                                     : PutNumber(out, whole);
  out[0] = '.';
  out[1] = static_cast<char>('0' + magnitude % 10);
  return out + 2;
}

// The hexadecimal digits' values, kNoDigit for every other character.
struct HexDigitTable {
  static constexpr uint32_t kNoDigit = 0x10;
  uint8_t values[256];
  constexpr HexDigitTable() : values() {
    for (int c = 0; c < 256; ++c) {
      values[c] = kNoDigit;
      if (c >= '0' && c <= '9') values[c] = static_cast<uint8_t>(c - '0');
      if (c >= 'a' && c <= 'f') values[c] = static_cast<uint8_t>(c - 'a' + 10);
      if (c >= 'A' && c <= 'F') values[c] = static_cast<uint8_t>(c - 'A' + 10);
    }
  }
};
constexpr HexDigitTable kHexDigits;

// The text of the value of every sample of four hexadecimal digits, 8 bytes each, the last giving
// the length; "7FFF" aside, whose text depends on the digits' case. Each text is made the first
// time it is asked for, in memory that the system hands out zeroed as it is touched; without
// that memory, every value is written as it comes.
class SampleTexts {
 public:
  SampleTexts() : texts_(static_cast<Text*>(std::calloc(kCount, sizeof(Text))), std::free) {}

  // Writes the text of `raw`; may write up to 8 bytes past its start.
  char* Put(char* out, int32_t raw) {
    if (!texts_) return PutValue(out, ValueOf(raw));
    Text& text = texts_.get()[raw];
    if (text[7] == 0) Make(raw, text);
    std::memcpy(out, text, sizeof text);
    return out + text[7];
  }

 private:
  using Text = char[8];
  static constexpr std::size_t kCount = 0x10000;

  static SampleValue ValueOf(int32_t raw) {
    if (raw == 0x8001) return {SampleValue::Sentinel8001, 0};
    return {SampleValue::Measured, raw >= 0x8000 ? raw - 0x10000 : raw};
  }

  static void Make(int32_t raw, Text& text) {
    char longest[CsvFile::kRowRoom];
    const auto length = static_cast<std::size_t>(PutValue(longest, ValueOf(raw)) - longest);
    std::memcpy(text, longest, length);
    text[7] = static_cast<char>(length);
  }

  std::unique_ptr<Text, void (*)(void*)> texts_;
};

// The value of the sample at `p`, as DecodeSample decodes its first four characters; four
// hexadecimal digits, as the instrument sends them, are read here directly.
char* PutSampleAt(char* out, SampleTexts& texts, std::string_view capture, std::size_t p) {
  if (p < capture.size() && capture.size() - p >= 4) {
    const auto digit = [&](std::size_t i) {
      return kHexDigits.values[static_cast<unsigned char>(capture[p + i])];
    };
    const uint32_t d0 = digit(0), d1 = digit(1), d2 = digit(2), d3 = digit(3);
    if (((d0 | d1 | d2 | d3) & HexDigitTable::kNoDigit) == 0) {
      const auto raw = static_cast<int32_t>((d0 << 12) | (d1 << 8) | (d2 << 4) | d3);
      // The sentinel is this text exactly: "7fff" is a measurement.
      if (raw != 0x7FFF || capture.compare(p, 4, "7FFF") != 0) return texts.Put(out, raw);
    }
  }
  return PutValue(out, DecodeSample(Mid(capture, p, 4)));
}

// The sample number of a row, kept as text and counted on digit by digit. Up to eight digits are
// held in one machine word, so that a row takes them in one store.
class RowNumber {
 public:
  explicit RowNumber(int32_t first) { Set(first); }

  // Writes the number and the separator after it; may write up to 16 bytes past the number.
  char* Put(char* out) const {
    if (length_ > kWordDigits) return PutText(PutNumber(out, value_), kSeparator);
    std::memcpy(out, &digits_, sizeof digits_);
    std::memcpy(out + length_, kPaddedSeparator, sizeof kPaddedSeparator);
    return out + length_ + kSeparator.size();
  }

  // Moves on to `next`, the number after the current one.
  void Next(int32_t next) {
    value_ = next;
    if (next <= 0 || length_ > kWordDigits) {
      Set(next);
      return;
    }
    // The number was at least 0: its last digit goes up, carrying over the nines before it.
    for (std::size_t at = length_; at-- > 0;) {
      const int shift = ShiftOf(at);
      if (((digits_ >> shift) & 0xFF) != '9') {
        digits_ += uint64_t{1} << shift;
        return;
      }
      digits_ -= uint64_t{'9' - '0'} << shift;
    }
    Set(next);  // one digit more
  }

 private:
  static constexpr std::size_t kWordDigits = sizeof(uint64_t);
  static constexpr char kPaddedSeparator[8] = {',', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

  // The shift that brings the character at `at` of the word's bytes to the lowest byte.
  static int ShiftOf(std::size_t at) {
    return static_cast<int>(8 * (std::endian::native == std::endian::little ? at : 7 - at));
  }

  void Set(int32_t value) {
    value_ = value;
    char text[16] = {};
    length_ = static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text);
    std::memcpy(&digits_, text, sizeof digits_);
  }

  int32_t value_ = 0;
  uint64_t digits_ = 0;
  std::size_t length_ = 0;
};

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

// The date (in absolute time) and time of a row of a group with a time column ("0"), timed by
// the computed clock. What comes before the seconds is kept as text while it stays the same.
class ClockText {
 public:
  explicit ClockText(bool absolute) : absolute_(absolute) {}

  // Writes the fields and the separator after them; may write up to kRoom bytes past the row's
  // date.
  char* Put(char* out, const ComputedClock& clock) {
    if (!valid_ || clock.minute != minute_ || clock.hour != hour_ ||
        (absolute_ && (clock.day != day_ || clock.month != month_ || clock.year != year_))) {
      Set(clock);
    }
    // Mostly a short text: a short copy then.
    std::memcpy(out, text_, kShortText);
    if (length_ > kShortText) std::memcpy(out, text_, kRoom);
    out = PutTwoWide(out + length_, clock.second);
    return PutText(out, kSeparator);
  }

 private:
  static constexpr std::size_t kRoom = 96;  // more than the longest date and time of day
  static constexpr std::size_t kShortText = 32;

  void Set(const ComputedClock& clock) {
    char* out = text_;
    if (absolute_) {
      out = PutNumber(out, clock.year);
      *out++ = '/';
      out = PutNumber(out, clock.month);
      *out++ = '/';
      out = PutNumber(out, clock.day);
      out = PutText(out, kSeparator);
    }
    out = PutTwoWide(out, clock.hour);
    *out++ = ':';
    out = PutTwoWide(out, clock.minute);
    *out++ = ':';
    length_ = static_cast<std::size_t>(out - text_);
    year_ = clock.year;
    month_ = clock.month;
    day_ = clock.day;
    hour_ = clock.hour;
    minute_ = clock.minute;
    valid_ = true;
  }

  bool absolute_;
  bool valid_ = false;
  int32_t year_ = 0, month_ = 0, day_ = 0, hour_ = 0, minute_ = 0;
  char text_[kRoom] = {};
  std::size_t length_ = 0;
};

// The fields of a kind-2 sample of a group without a computed time ("4") after its number: the
// sample's own measurement clock, two hexadecimal digits each for hours, minutes and seconds,
// and its value.
char* PutMeasurementClockFields(char* out, std::string_view sample, TransferState& transfer) {
  const std::string_view LCstr2 = Left(sample, 4);
  const std::string_view MCstr2 = Mid(sample, 4, 4);
  const std::string_view RCstr2 = Right(sample, 4);
  const SampleValue value = DecodeSample(LCstr2);
  if (value.kind == SampleValue::Measured) transfer.scaledValue = value.tenths / 10.0;
  out = PutTwoWide(out, ReadHexadecimal(Right(MCstr2, 2)));
  *out++ = ':';
  out = PutTwoWide(out, ReadHexadecimal(Left(RCstr2, 2)));
  *out++ = ':';
  out = PutTwoWide(out, ReadHexadecimal(Right(RCstr2, 2)));
  out = PutText(out, kSeparator);
  return PutValue(out, value);
}

// A group that could not be written to its end: its file is gone, and the walk ends.
ConversionOutcome StopInGroup(TransferState& transfer, ConversionOutcome& outcome,
                              ConversionEnd end) {
  transfer.sampleIndex = 0;
  outcome.end = end;
  return outcome;
}

// 1 when `c` is no hexadecimal digit, 0 when it is one: byte arithmetic that the compiler turns
// into vector instructions.
unsigned char NotHexadecimal(char c) {
  const auto u = static_cast<unsigned char>(c);
  const auto digit = static_cast<unsigned char>(u - '0');
  const auto letter = static_cast<unsigned char>((u | 0x20) - 'a');
  return static_cast<unsigned char>((digit > 9) & (letter > 5));
}

// Where the first character of `text` that is no hexadecimal digit is, or npos. Blocks are looked
// at whole first.
std::size_t FirstNonHexadecimal(std::string_view text) {
  constexpr std::size_t kBlock = 64;
  std::size_t at = 0;
  for (; text.size() - at >= kBlock; at += kBlock) {
    unsigned char other = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
      other |= NotHexadecimal(text[at + i]);
    if (other != 0) break;
  }
  for (; at < text.size(); ++at) {
    if (NotHexadecimal(text[at]) != 0) return at;
  }
  return std::string_view::npos;
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
  const std::size_t other = FirstNonHexadecimal(samples);
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

ConversionOutcome ConvertCapture(int instrumentKind, int32_t displayMode, ConversionObserver& ui,
                                 FileSystem& files, TransferState& transfer) {
  ConversionOutcome outcome;
  // The working buffer holds the capture as it was stored, read whole.
  const std::size_t capacity =
      static_cast<std::size_t>(std::max<int32_t>(0, transfer.payloadLength));
  std::unique_ptr<char, void (*)(void*)> buffer(static_cast<char*>(std::malloc(capacity + 1)),
                                                std::free);
  if (!buffer) {
    ui.Alert(std::string(texts::kNoMemory));
    std::exit(1);  // NOLINT(concurrency-mt-unsafe): no memory ends the program, as it always has.
  }
  std::size_t length = 0;
  if (!files.ReadFileBytes(transfer.capturePath, buffer.get(), capacity, &length)) {
    ui.Alert(std::string(texts::kCaptureNotOpened));
    outcome.end = ConversionEnd::CaptureNotOpened;
    return outcome;
  }
  const std::string_view capture(buffer.get(), length);

  const bool absolute = displayMode == 1;
  const std::size_t sampleSize = instrumentKind == 2 ? 12 : 4;
  ComputedClock clock;
  SampleTexts sampleTexts;
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
    RowNumber number(transfer.sampleIndex);
    ClockText clockText(absolute);
    for (; transfer.sampleIndex != transfer.sampleCount; ++transfer.sampleIndex, p += sampleSize) {
      if (transfer.sampleIndex % kSamplesBetweenStopChecks == kSamplesBetweenStopChecks - 1 &&
          ui.StopRequested()) {
        return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
      }
      char* out = number.Put(file->RowSpace());
      if (timed) {
        Advance(clock, header, absolute);
        out = PutSampleAt(clockText.Put(out, clock), sampleTexts, capture, p);
      } else if (instrumentKind == 2) {
        out = PutMeasurementClockFields(out, Mid(capture, p, sampleSize), transfer);
      } else {
        out = PutSampleAt(out, sampleTexts, capture, p);
      }
      out[0] = '\r';
      out[1] = '\n';
      if (!file->EndRow(out + 2)) {
        return StopInGroup(transfer, outcome, ConversionEnd::CsvNotWritten);
      }
      number.Next(transfer.sampleIndex + 1);
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
