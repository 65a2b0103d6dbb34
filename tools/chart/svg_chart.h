// Drawing measurement groups read from KVX-300's CSV files as SVG charts, for kvx-chart.
//
// The SVG is written by hand: the same bytes on every platform and in every locale (numbers
// through std::to_chars), a fixed viewBox, and fonts with a Japanese fallback list. Each chart
// shows the readings over time (or over the sample number when the group has no times) as
// lines, broken where a reading was out of range; such a reading gets a mark at the edge of
// the plot instead (class "over-range" at the top, "under-range" at the bottom). The title
// holds the file's name, the start time and the interval; minimum, maximum and mean of the
// measured readings stand beside it.
#ifndef TOOLS_CHART_SVG_CHART_H
#define TOOLS_CHART_SVG_CHART_H

#include <string>
#include <vector>

#include "csv_reading.h"

namespace chart {

// A whole SVG document with one chart per group, one under the other.
std::string DrawCharts(const std::vector<Group>& groups);

}  // namespace chart

#endif  // TOOLS_CHART_SVG_CHART_H
