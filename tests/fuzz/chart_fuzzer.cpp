// libFuzzer target: any bytes as a CSV file for kvx-chart. A file that is read as a group must
// draw as a well-formed document in which every reading appears once, as a point of a line or
// as a mark out of range; nothing may crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "csv_reading.h"
#include "svg_chart.h"

namespace {

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// The points of every line: each is "x,y", separated by spaces.
std::size_t Points(std::string_view svg) {
  constexpr std::string_view kLine = "class=\"readings\" points=\"";
  std::size_t count = 0;
  for (std::size_t at = svg.find(kLine); at != std::string_view::npos;
       at = svg.find(kLine, at + 1)) {
    const std::size_t begin = at + kLine.size();
    count += Occurrences(svg.substr(begin, svg.find('"', begin) - begin), ",");
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  chart::Group group;
  std::string error;
  if (!chart::ReadKvxCsv(bytes, &group, &error)) {
    if (error.empty() || error.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  const std::string svg = chart::DrawCharts({group});
  if (svg.rfind("<?xml", 0) != 0 || svg.size() < 7 || svg.substr(svg.size() - 7) != "</svg>\n") {
    std::abort();
  }
  for (const char c : svg) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') std::abort();
  }
  const std::size_t marks =
      Occurrences(svg, "class=\"over-range\"") + Occurrences(svg, "class=\"under-range\"");
  if (Points(svg) + marks != group.readings.size()) std::abort();
  return 0;
}
