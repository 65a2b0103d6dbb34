// The layout of a CSV file that the program writes, as its writer and kvx-chart's reader share
// it: one measurement group a file, in code page 932 with CR LF line ends; header lines that
// open with the labels of program_texts.h; then one row a sample, its fields apart by
// kFieldSeparator, the value last, in tenths with one decimal or one of the two out-of-range
// marks.
#ifndef KVX_CSV_LAYOUT_H
#define KVX_CSV_LAYOUT_H

#include <string_view>

namespace kvx::csv {

inline constexpr std::string_view kFieldSeparator = ",     ";
// The values of readings over and under the instrument's range.
inline constexpr std::string_view kOverRange = "32767";
inline constexpr std::string_view kUnderRange = "-32767";

}  // namespace kvx::csv

#endif  // KVX_CSV_LAYOUT_H
