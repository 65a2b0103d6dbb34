#include "svg_chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chart {

namespace {

// The page: every chart is kChartHeight high and kWidth wide, in the viewBox's units.
constexpr int64_t kWidth = 960;
constexpr int64_t kChartHeight = 440;
constexpr double kPlotLeft = 84;
constexpr double kPlotRight = 916;
// The readings keep this far from the left and right edges of the plot.
constexpr double kInset = 12;
constexpr double kPlotTop = 92;
constexpr double kPlotBottom = 372;
constexpr int kMostTimeTicks = 8;
constexpr int kMostValueTicks = 6;
// Readings are drawn as dots too when there are this few of them.
constexpr std::size_t kMostDottedReadings = 80;
// The room for each count under the statistics.
constexpr double kCountWidth = 118;

constexpr std::string_view kFonts =
    "'Noto Sans CJK JP', 'Noto Sans JP', 'Hiragino Sans', 'Hiragino Kaku Gothic ProN', "
    "'Yu Gothic', Meiryo, 'IPAexGothic', 'IPAGothic', 'IPAPGothic', 'Droid Sans Fallback', "
    "sans-serif";
constexpr std::string_view kLineColour = "#1f5fa8";
constexpr std::string_view kOverColour = "#c62828";
constexpr std::string_view kUnderColour = "#6a1b9a";
constexpr std::string_view kGridColour = "#e3e6ea";
constexpr std::string_view kTextColour = "#222";
constexpr std::string_view kQuietTextColour = "#555";

constexpr int64_t kMillisecondsPerDay = 86400000;

void AppendInteger(std::string& out, int64_t value) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end.ptr);
}

// A number of `scaled` units of 1/10^decimals, with that many decimals.
void AppendScaled(std::string& out, int64_t scaled, int decimals) {
  int64_t unit = 1;
  for (int i = 0; i < decimals; ++i)
    unit *= 10;
  if (scaled < 0) out += '-';
  const int64_t magnitude = scaled < 0 ? -scaled : scaled;
  AppendInteger(out, magnitude / unit);
  if (decimals == 0) return;
  out += '.';
  std::string fraction;
  AppendInteger(fraction, magnitude % unit);
  out.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
  out += fraction;
}

// A coordinate, to a tenth of a unit.
void AppendCoordinate(std::string& out, double value) {
  const int64_t tenths = std::llround(value * 10);
  if (tenths % 10 == 0) {
    AppendInteger(out, tenths / 10);
  } else {
    AppendScaled(out, tenths, 1);
  }
}

std::string Coordinate(double value) {
  std::string out;
  AppendCoordinate(out, value);
  return out;
}

std::string Tenths(int64_t tenths) {
  std::string out;
  AppendScaled(out, tenths, 1);
  return out;
}

std::string TwoDigits(int64_t value) {
  std::string out;
  if (value < 10) out += '0';
  AppendInteger(out, value);
  return out;
}

// Text for an SVG text node or attribute.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters have no place in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

struct Text {
  double x;
  double y;
  std::string_view anchor;  // start, middle, end
  int size;
  std::string_view colour;
  std::string_view weight;  // normal, bold
};

void AppendText(std::string& out, const Text& where, std::string_view cssClass,
                std::string_view content) {
  out += "<text class=\"";
  out += cssClass;
  out += "\" x=\"" + Coordinate(where.x) + "\" y=\"" + Coordinate(where.y) + "\" font-size=\"";
  AppendInteger(out, where.size);
  out += "\" fill=\"";
  out += where.colour;
  out += "\" text-anchor=\"";
  out += where.anchor;
  out += "\"";
  if (where.weight != "normal") {
    out += " font-weight=\"";
    out += where.weight;
    out += "\"";
  }
  out += '>';
  out += Escaped(content);
  out += "</text>\n";
}

// The axis along which the readings are placed.
enum class Axis { Elapsed, Calendar, Clock, Number };

// Where each reading goes along the horizontal axis: milliseconds for the time axes, the sample
// number for Number.
struct Placement {
  Axis axis = Axis::Number;
  std::vector<int64_t> at;
};

Placement Place(const Group& group) {
  Placement placement;
  const std::vector<Reading>& readings = group.readings;
  if (group.form == TimeForm::None || readings.empty()) {
    for (const Reading& reading : readings)
      placement.at.push_back(reading.number);
    return placement;
  }
  placement.axis = group.form == TimeForm::Relative   ? Axis::Elapsed
                   : group.form == TimeForm::Calendar ? Axis::Calendar
                                                      : Axis::Clock;
  // Rows give whole seconds; a known interval places readings closer than a second apart.
  const bool byInterval =
      group.form != TimeForm::MeasurementClock && group.intervalMilliseconds > 0;
  const int64_t first = readings.front().seconds * 1000;
  for (const Reading& reading : readings) {
    placement.at.push_back(byInterval ? first + reading.number * group.intervalMilliseconds
                                      : reading.seconds * 1000);
  }
  // Times that run backwards (a clock that passed midnight, a year after 99) cannot make an
  // axis: the readings go by their sample numbers then.
  if (!std::is_sorted(placement.at.begin(), placement.at.end())) {
    placement.axis = Axis::Number;
    placement.at.clear();
    for (const Reading& reading : readings)
      placement.at.push_back(reading.number);
  }
  return placement;
}

// A step of 1, 2 or 5 times a power of ten that puts at most `most` steps over `span`.
int64_t NiceStep(int64_t span, int most) {
  int64_t power = 1;
  for (;;) {
    for (const int64_t factor : {1, 2, 5}) {
      if (span <= factor * power * most) return factor * power;
    }
    power *= 10;
  }
}

int64_t TimeStep(int64_t span) {
  static constexpr int64_t kSteps[] = {
      1000,     2000,     5000,     10000,    15000,     30000,     60000,
      120000,   300000,   600000,   900000,   1800000,   3600000,   7200000,
      10800000, 21600000, 43200000, 86400000, 172800000, 604800000, 1209600000};
  for (const int64_t step : kSteps) {
    if (span <= step * kMostTimeTicks) return step;
  }
  return NiceStep(span / kMillisecondsPerDay + 1, kMostTimeTicks) * kMillisecondsPerDay;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// The date of a calendar axis position (milliseconds since 2000-01-01) as "yy/mm/dd".
std::string DateLabel(int64_t milliseconds) {
  const int64_t days = FloorDiv(milliseconds, kMillisecondsPerDay) + 730425;  // since 0000-03-01
  const int64_t era = FloorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return TwoDigits(((year % 100) + 100) % 100) + "/" + TwoDigits(month) + "/" + TwoDigits(day);
}

// A time of day or a duration as "h:mm" or "h:mm:ss".
std::string ClockLabel(int64_t milliseconds, bool withSeconds, bool ofDay) {
  int64_t seconds = FloorDiv(milliseconds, 1000);
  if (ofDay) seconds = seconds - FloorDiv(seconds, 86400) * 86400;
  std::string out;
  if (seconds < 0) {
    out += '-';
    seconds = -seconds;
  }
  if (ofDay) {
    out += TwoDigits(seconds / 3600);
  } else {
    AppendInteger(out, seconds / 3600);
  }
  out += ':';
  out += TwoDigits(seconds / 60 % 60);
  if (withSeconds) {
    out += ':';
    out += TwoDigits(seconds % 60);
  }
  return out;
}

// The title under the time axis, naming the fields its labels show.
std::string_view AxisTitle(Axis axis, bool withSeconds) {
  switch (axis) {
    case Axis::Elapsed:
      return withSeconds ? "経過時間 (時:分:秒)" : "経過時間 (時:分)";
    case Axis::Calendar:
      return "日時";
    case Axis::Clock:
      return withSeconds ? "計測時間 (時:分:秒)" : "計測時間 (時:分)";
    case Axis::Number:
      break;
  }
  return "サンプリング№";
}

struct Range {
  int64_t low;
  int64_t high;
  int64_t step;
};

// The horizontal range: the readings' own, so that the line runs from edge to edge.
Range HorizontalRange(const Placement& placement) {
  int64_t low = placement.at.front();
  int64_t high = placement.at.back();
  const bool time = placement.axis != Axis::Number;
  if (high == low) {
    const int64_t pad = time ? 1000 : 1;
    low -= pad;
    high += pad;
  }
  return {low, high, time ? TimeStep(high - low) : NiceStep(high - low, kMostTimeTicks)};
}

// The vertical range in tenths: whole steps around the measured readings.
Range VerticalRange(const std::vector<Reading>& readings) {
  bool any = false;
  int64_t low = 0;
  int64_t high = 0;
  for (const Reading& reading : readings) {
    if (reading.kind != Reading::Measured) continue;
    low = any ? std::min(low, reading.tenths) : reading.tenths;
    high = any ? std::max(high, reading.tenths) : reading.tenths;
    any = true;
  }
  if (!any) return {0, 10, 2};
  const int64_t step = NiceStep(std::max<int64_t>(high - low, 1), kMostValueTicks - 1);
  int64_t bottom = FloorDiv(low, step) * step;
  int64_t top = -FloorDiv(-high, step) * step;
  if (bottom == top) {
    bottom -= step;
    top += step;
  }
  return {bottom, top, step};
}

struct Frame {
  Range x;
  Range y;
  double top;  // the chart's offset on the page

  double X(int64_t at) const {
    return kPlotLeft + kInset +
           (kPlotRight - kPlotLeft - 2 * kInset) * static_cast<double>(at - x.low) /
               static_cast<double>(x.high - x.low);
  }
  double Y(int64_t tenths) const {
    return top + kPlotBottom -
           (kPlotBottom - kPlotTop) * static_cast<double>(tenths - y.low) /
               static_cast<double>(y.high - y.low);
  }
};

void AppendLine(std::string& out, std::string_view cssClass, double x1, double y1, double x2,
                double y2, std::string_view colour, std::string_view extra) {
  out += "<line class=\"";
  out += cssClass;
  out += "\" x1=\"" + Coordinate(x1) + "\" y1=\"" + Coordinate(y1) + "\" x2=\"" + Coordinate(x2) +
         "\" y2=\"" + Coordinate(y2) + "\" stroke=\"";
  out += colour;
  out += "\"";
  out += extra;
  out += "/>\n";
}

void DrawValueAxis(std::string& out, const Frame& frame, const Group& group) {
  const bool wholeSteps = frame.y.step % 10 == 0;
  for (int64_t v = frame.y.low; v <= frame.y.high; v += frame.y.step) {
    const double y = frame.Y(v);
    AppendLine(out, "grid", kPlotLeft, y, kPlotRight, y, kGridColour, "");
    std::string label;
    if (wholeSteps) {
      AppendInteger(label, v / 10);
    } else {
      label = Tenths(v);
    }
    AppendText(out, {kPlotLeft - 8, y + 4.5, "end", 13, kQuietTextColour, "normal"}, "value-label",
               label);
  }
  AppendText(out, {kPlotLeft - 8, frame.top + kPlotTop - 10, "end", 14, kTextColour, "bold"},
             "unit", group.unit.empty() ? "値" : group.unit);
}

void DrawTimeAxis(std::string& out, const Frame& frame, Axis axis) {
  const double bottom = frame.top + kPlotBottom;
  const int64_t step = frame.x.step;
  const bool withSeconds = step % 60000 != 0;
  const bool daily = step % kMillisecondsPerDay == 0;
  std::string lastDate;
  for (int64_t at = -FloorDiv(-frame.x.low, step) * step; at <= frame.x.high; at += step) {
    const double x = frame.X(at);
    AppendLine(out, "grid", x, frame.top + kPlotTop, x, bottom, kGridColour, "");
    AppendLine(out, "tick", x, bottom, x, bottom + 5, kQuietTextColour, "");
    std::string label;
    switch (axis) {
      case Axis::Elapsed:
      case Axis::Clock:
        label = ClockLabel(at, withSeconds, false);
        break;
      case Axis::Calendar: {
        const std::string date = DateLabel(at);
        label = daily ? date : ClockLabel(at, withSeconds, true);
        if (!daily && date != lastDate) {
          AppendText(out, {x, bottom + 36, "middle", 12, kQuietTextColour, "normal"}, "date-label",
                     date);
        }
        lastDate = date;
        break;
      }
      case Axis::Number:
        AppendInteger(label, at);
        break;
    }
    AppendText(out, {x, bottom + 20, "middle", 13, kQuietTextColour, "normal"}, "time-label",
               label);
  }
  const double titleY = frame.top + kChartHeight - 14;
  AppendText(out, {(kPlotLeft + kPlotRight) / 2, titleY, "middle", 14, kTextColour, "normal"},
             "axis-title", AxisTitle(axis, withSeconds));
}

struct Statistics {
  int64_t measured = 0;
  int64_t over = 0;
  int64_t under = 0;
  int64_t low = 0;
  int64_t high = 0;
  int64_t sum = 0;
};

Statistics Count(const std::vector<Reading>& readings) {
  Statistics s;
  for (const Reading& reading : readings) {
    if (reading.kind == Reading::OverRange) {
      ++s.over;
    } else if (reading.kind == Reading::UnderRange) {
      ++s.under;
    } else {
      s.low = s.measured == 0 ? reading.tenths : std::min(s.low, reading.tenths);
      s.high = s.measured == 0 ? reading.tenths : std::max(s.high, reading.tenths);
      s.sum += reading.tenths;
      ++s.measured;
    }
  }
  return s;
}

// The mean in hundredths of the unit, rounded half away from zero.
int64_t MeanHundredths(const Statistics& s) {
  const int64_t scaled = s.sum * 10;
  const int64_t half = s.measured / 2;
  return scaled >= 0 ? (scaled + half) / s.measured : -((-scaled + half) / s.measured);
}

void DrawHeading(std::string& out, const Group& group, const Statistics& s, double top) {
  const std::string title = group.title.empty() ? "(名前なし)" : group.title;
  AppendText(out, {kPlotLeft - 60, top + 34, "start", 20, kTextColour, "bold"}, "title", title);
  std::string subtitle = "測定開始 " + group.start;
  if (!group.interval.empty()) subtitle += "　インターバル " + group.interval;
  AppendText(out, {kPlotLeft - 60, top + 58, "start", 14, kQuietTextColour, "normal"}, "subtitle",
             subtitle);

  const std::string unit = group.unit.empty() ? "" : " " + group.unit;
  std::string line;
  if (s.measured == 0) {
    line = "測定値なし";
  } else {
    std::string mean;
    AppendScaled(mean, MeanHundredths(s), 2);
    line = "最小 " + Tenths(s.low) + unit + "　最大 " + Tenths(s.high) + unit + "　平均 " + mean +
           unit;
  }
  AppendText(out, {kPlotRight, top + 34, "end", 15, kTextColour, "bold"}, "statistics", line);
  // The counts, right-aligned one after the other: the out-of-range ones in their marks' colours.
  struct Count {
    int64_t number;
    std::string_view label;
    std::string_view colour;
    std::string_view cssClass;
  };
  const Count counts[] = {{s.under, "▼ 範囲未満 ", kUnderColour, "under-range-count"},
                          {s.over, "▲ 範囲超過 ", kOverColour, "over-range-count"},
                          {s.measured, "測定値 ", kQuietTextColour, "measured-count"}};
  double right = kPlotRight;
  for (const Count& count : counts) {
    if (count.number == 0 && count.cssClass != "measured-count") continue;
    std::string text(count.label);
    AppendInteger(text, count.number);
    AppendText(out, {right, top + 58, "end", 13, count.colour, "normal"}, count.cssClass, text);
    right -= kCountWidth;
  }
}

// A mark for a reading out of range at the top (over) or bottom (under) edge of the plot.
void DrawMarker(std::string& out, const Frame& frame, double x, const Reading& reading) {
  const bool over = reading.kind == Reading::OverRange;
  const double edge = frame.top + (over ? kPlotTop + 2 : kPlotBottom - 2);
  out += std::string("<path class=\"") + (over ? "over-range" : "under-range") + "\" d=\"M" +
         Coordinate(x) + " " + Coordinate(edge) + (over ? " l-6 10 h12 z" : " l-6 -10 h12 z") +
         "\" fill=\"";
  out += over ? kOverColour : kUnderColour;
  out += "\"><title>№";
  AppendInteger(out, reading.number);
  out += over ? ": 32767 (範囲超過)" : ": -32767 (範囲未満)";
  out += "</title></path>\n";
  // A faint band down the plot shows where the line is broken.
  AppendLine(out, "gap", x, frame.top + kPlotTop, x, frame.top + kPlotBottom,
             over ? kOverColour : kUnderColour,
             " stroke-opacity=\"0.35\" stroke-dasharray=\"3 3\"");
}

void DrawReadings(std::string& out, const Frame& frame, const Group& group,
                  const Placement& placement) {
  const std::vector<Reading>& readings = group.readings;
  const bool dotted = readings.size() <= kMostDottedReadings;
  std::string dots;
  std::string points;
  const auto endSegment = [&]() {
    if (points.empty()) return;
    out += "<polyline class=\"readings\" points=\"" + points + "\" fill=\"none\" stroke=\"";
    out += kLineColour;
    out += "\" stroke-width=\"2\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n";
    points.clear();
  };
  for (std::size_t i = 0; i < readings.size(); ++i) {
    const Reading& reading = readings[i];
    const double x = frame.X(placement.at[i]);
    if (reading.kind != Reading::Measured) {
      endSegment();
      DrawMarker(out, frame, x, reading);
      continue;
    }
    const double y = frame.Y(reading.tenths);
    if (!points.empty()) points += ' ';
    points += Coordinate(x) + "," + Coordinate(y);
    const bool alone = (i == 0 || readings[i - 1].kind != Reading::Measured) &&
                       (i + 1 == readings.size() || readings[i + 1].kind != Reading::Measured);
    if (dotted || alone) {
      dots += "<circle class=\"dot\" cx=\"" + Coordinate(x) + "\" cy=\"" + Coordinate(y) +
              "\" r=\"3\" fill=\"";
      dots += kLineColour;
      dots += "\"/>\n";
    }
  }
  endSegment();
  out += dots;
}

void DrawGroup(std::string& out, const Group& group, double top) {
  const Statistics s = Count(group.readings);
  out += "<g class=\"chart\">\n";
  DrawHeading(out, group, s, top);
  out += "<rect class=\"plot\" x=\"" + Coordinate(kPlotLeft) + "\" y=\"" +
         Coordinate(top + kPlotTop) + "\" width=\"" + Coordinate(kPlotRight - kPlotLeft) +
         "\" height=\"" + Coordinate(kPlotBottom - kPlotTop) + "\" fill=\"#fbfcfd\"/>\n";
  if (group.readings.empty()) {
    AppendText(out,
               {(kPlotLeft + kPlotRight) / 2, top + (kPlotTop + kPlotBottom) / 2, "middle", 16,
                kQuietTextColour, "normal"},
               "empty", "読み取り値がありません");
  } else {
    const Placement placement = Place(group);
    const Frame frame{HorizontalRange(placement), VerticalRange(group.readings), top};
    DrawValueAxis(out, frame, group);
    DrawTimeAxis(out, frame, placement.axis);
    DrawReadings(out, frame, group, placement);
  }
  out += "<rect class=\"frame\" x=\"" + Coordinate(kPlotLeft) + "\" y=\"" +
         Coordinate(top + kPlotTop) + "\" width=\"" + Coordinate(kPlotRight - kPlotLeft) +
         "\" height=\"" + Coordinate(kPlotBottom - kPlotTop) +
         "\" fill=\"none\" stroke=\"#8a9099\"/>\n";
  out += "</g>\n";
}

}  // namespace

std::string DrawCharts(const std::vector<Group>& groups) {
  const int64_t height =
      kChartHeight * static_cast<int64_t>(std::max<std::size_t>(groups.size(), 1));
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ";
  AppendInteger(out, kWidth);
  out += " ";
  AppendInteger(out, height);
  out += "\" width=\"";
  AppendInteger(out, kWidth);
  out += "\" height=\"";
  AppendInteger(out, height);
  out += "\" font-family=\"";
  out += kFonts;
  out += "\">\n<rect width=\"";
  AppendInteger(out, kWidth);
  out += "\" height=\"";
  AppendInteger(out, height);
  out += "\" fill=\"#ffffff\"/>\n";
  for (std::size_t i = 0; i < groups.size(); ++i) {
    DrawGroup(out, groups[i], static_cast<double>(kChartHeight) * static_cast<double>(i));
  }
  out += "</svg>\n";
  return out;
}

}  // namespace chart
