#include "csv_conversion.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "capture_decoding.h"
#include "computed_clock.h"
#include "csv_output.h"
#include "csv_rows.h"
#include "hex_digits.h"

namespace kvx {

namespace {

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

ConversionOutcome ConvertCapture(int instrumentKind, int32_t displayMode,
                                 ConversionObserver& observer, FileSystem& files,
                                 TransferState& transfer) {
  ConversionOutcome outcome;
  // The working buffer holds the capture as it was stored, read whole.
  const std::size_t capacity =
      static_cast<std::size_t>(std::max<int32_t>(0, transfer.payloadLength));
  std::unique_ptr<char, void (*)(void*)> buffer(static_cast<char*>(std::malloc(capacity + 1)),
                                                std::free);
  if (!buffer) {
    outcome.end = ConversionEnd::NoMemory;
    return outcome;
  }
  std::size_t length = 0;
  if (!files.ReadFileBytes(transfer.capturePath, buffer.get(), capacity, &length)) {
    observer.Alert(std::string(texts::kCaptureNotOpened));
    outcome.end = ConversionEnd::CaptureNotOpened;
    return outcome;
  }
  const std::string_view capture(buffer.get(), length);

  const bool absolute = displayMode == 1;
  const std::size_t sampleSize = SampleSize(instrumentKind);
  ComputedClock clock;
  SampleTexts sampleTexts;
  int32_t group = 0;
  for (std::size_t p = 0; p < capture.size();) {
    ++group;
    if (observer.StopRequested()) return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
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
    std::unique_ptr<CsvFile> file = OpenNextCsvFile(observer, files, transfer, &failure);
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
          observer.StopRequested()) {
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
    if (observer.StopRequested()) return StopInGroup(transfer, outcome, ConversionEnd::Stopped);
    if (!file->Finish()) return StopInGroup(transfer, outcome, ConversionEnd::CsvNotWritten);
    ++outcome.groups;
    outcome.samples += header.sampleCount;
    transfer.sampleIndex = 0;
    clock.hour = clock.minute = clock.second = clock.millisecond = 0;
  }
  return outcome;
}

}  // namespace kvx
