#include "csv_rows.h"

#include "program_texts.h"

namespace kvx {

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

}  // namespace kvx
