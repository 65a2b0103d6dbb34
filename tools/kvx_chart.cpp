// kvx-chart: draws the CSV files that KVX-300 wrote as SVG charts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "csv_reading.h"
#include "file_system.h"
#include "program_arguments.h"
#include "svg_chart.h"
#include "system_calls.h"
#include "tool_system.h"

namespace {

constexpr const char* kUsage = cli::TrLater(
    "Usage: kvx-chart [--folder DIR | --output FILE] CSV_FILE...\n"
    "\n"
    "Draws each CSV file that KVX-300 wrote (one measurement group per file, code page 932,\n"
    "either instrument kind, relative or calendar times, any unit) as a chart in SVG: the\n"
    "readings over time, or over the sample number when the group has no times, with the unit\n"
    "on the vertical axis. A reading out of range (32767 or -32767 in the file) breaks the line\n"
    "and gets a mark at the top or bottom edge. The title holds the start time and the\n"
    "interval; minimum, maximum and mean of the measured readings stand beside it. The files\n"
    "written are listed on stdout, and a CSV file is only read.\n"
    "\n"
    "  (neither option)  each chart beside its CSV file, as QM-0001.svg for QM-0001.csv\n"
    "  --folder DIR      each chart into DIR (an existing folder) instead\n"
    "  --output FILE     one page with every chart, one under the other, in FILE; written\n"
    "                    only when every CSV file could be read; \"-\" writes it to stdout\n"
    "  -h, --help        show this text\n"
    "  -V, --version     show the version\n"
    "\n"
    "An existing chart of the same name is replaced, in one step: a chart that cannot be\n"
    "written completely leaves no file and the earlier one as it was.\n"
    "\n"
    "Environment:\n"
    "  LANG, LC_MESSAGES, LC_ALL, LANGUAGE\n"
    "                     the language of the messages: Japanese or English (nothing\n"
    "                     else of the locale: the charts are the same bytes\n"
    "                     under every locale)\n"
    "\n"
    "Exit status (the highest that applies):\n"
    "  0   every CSV file was drawn\n"
    "  2   usage error\n"
    "  3   a CSV file cannot be read or is not one that KVX-300 wrote (the others are drawn)\n"
    "  4   a chart could not be written\n"
    "  128+N  stopped by signal N: the chart being written was not left behind\n"
    "  1   any other end (no memory)\n");

constexpr int kUnreadable = 3;
constexpr int kNotWritten = 4;
// Far more than a CSV file of the instrument's largest group.
constexpr std::uint64_t kLargestCsvFile = 256ull * 1024 * 1024;

// The path without a final ".csv" (of either case).
std::string WithoutCsvSuffix(const std::string& path) {
  if (path.size() - cli::system::NameStart(path) > 4) {
    std::string suffix = path.substr(path.size() - 4);
    for (char& c : suffix) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (suffix == ".csv") return path.substr(0, path.size() - 4);
  }
  return path;
}

std::string ChartPath(const std::string& csv, const std::string& folder, char separator) {
  const std::string stem = WithoutCsvSuffix(csv);
  if (folder.empty()) return stem + ".svg";
  std::string path = folder;
  if (cli::system::NameStart(path) != path.size()) path += separator;
  return path + stem.substr(cli::system::NameStart(stem)) + ".svg";
}

void Complain(const std::string& message) {
  cli::Err("kvx-chart: %s\n", message.c_str());
}

int StoppedStatus() {
  Complain(cli::Format(cli::Tr("stopped by signal %d"), kvx::system::StopSignal()));
  return 128 + kvx::system::StopSignal();
}

enum class Written { Yes, No, Stopped };

// Writes `bytes` under a temporary name beside `path`, then gives it that name.
Written WriteWhole(FileSystem& files, const std::string& path, const std::string& bytes) {
  std::string temporary;
  FileHandle file = kNoFile;
  for (int attempt = 0; attempt < 100 && file == kNoFile; ++attempt) {
    temporary = path + ".kvx-chart-" + std::to_string(attempt) + ".tmp";
    if (files.CreateNewFile(temporary, &file) == CreateResult::Failed) return Written::No;
  }
  if (file == kNoFile) return Written::No;
  const bool written = files.WriteFileBytes(file, bytes.data(), bytes.size());
  const bool closed = files.CloseFile(file);
  if (kvx::system::StopSignal() != 0) {
    (void)files.RemoveFile(temporary);
    return Written::Stopped;
  }
  if (!written || !closed || !cli::system::RenameReplacing(temporary, path)) {
    (void)files.RemoveFile(temporary);
    return Written::No;
  }
  return Written::Yes;
}

// Reads and understands one CSV file; false, with the reason told, when it cannot.
bool ReadGroup(FileSystem& files, const std::string& path, chart::Group* group) {
  const std::string shown = cli::system::ShownPath(path);
  std::uint64_t size = 0;
  if (!cli::system::FileSize(path, &size)) {
    Complain(cli::Format(cli::Tr("cannot read %s"), shown.c_str()));
    return false;
  }
  if (size > kLargestCsvFile) {
    Complain(cli::Format(cli::Tr("%s: not a KVX-300 CSV file: far larger than any the program "
                                 "writes"),
                         shown.c_str()));
    return false;
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::size_t length = 0;
  if (!files.ReadFileBytes(path, bytes.data(), bytes.size(), &length)) {
    Complain(cli::Format(cli::Tr("cannot read %s"), shown.c_str()));
    return false;
  }
  bytes.resize(length);
  std::string reason;
  if (!chart::ReadKvxCsv(bytes, group, &reason)) {
    Complain(cli::Format(cli::Tr("%s: not a KVX-300 CSV file: %s"), shown.c_str(), reason.c_str()));
    return false;
  }
  return true;
}

int Run(int argc, char** argv) {
  cli::StartMessages();
  kvx::system::CatchStopSignals();
  const cli::Arguments arguments = cli::ParseProgramArguments(
      "kvx-chart", argc, argv, {{"folder", true}, {"output", true}}, kUsage);
  if (arguments.operands.empty()) cli::UsageError(cli::Tr("give at least one CSV file"));
  if (arguments.Has("folder") && arguments.Has("output")) {
    cli::UsageError(cli::Tr("--folder and --output exclude each other"));
  }
  SystemFileSystem files;
  const std::string folder = arguments.Value("folder", "");
  if (arguments.Has("folder") && (folder.empty() || !files.IsFolder(folder))) {
    cli::UsageError(cli::Format(cli::Tr("no folder %s"), cli::system::ShownPath(folder).c_str()));
  }
  const std::string page = cli::Optional(arguments, "output");

  // Two CSV files of one name would be drawn into one chart: the second would replace the first.
  std::vector<std::string> chartPaths;
  if (!arguments.Has("output")) {
    std::map<std::string, std::string> drawnFrom;
    for (const std::string& csv : arguments.operands) {
      const std::string path = ChartPath(csv, folder, files.PathSeparator());
      const auto [earlier, added] = drawnFrom.emplace(path, csv);
      if (!added) {
        cli::UsageError(cli::Format(cli::Tr("%s and %s would both be drawn into %s"),
                                    cli::system::ShownPath(earlier->second).c_str(),
                                    cli::system::ShownPath(csv).c_str(),
                                    cli::system::ShownPath(path).c_str()));
      }
      chartPaths.push_back(path);
    }
  }

  int status = 0;
  std::vector<chart::Group> groups;
  for (std::size_t i = 0; i < arguments.operands.size(); ++i) {
    if (kvx::system::StopSignal() != 0) return StoppedStatus();
    chart::Group group;
    if (!ReadGroup(files, arguments.operands[i], &group)) {
      status = std::max(status, kUnreadable);
      continue;
    }
    if (arguments.Has("output")) {
      groups.push_back(std::move(group));
      continue;
    }
    const Written written = WriteWhole(files, chartPaths[i], chart::DrawCharts({group}));
    if (written == Written::Stopped) return StoppedStatus();
    if (written == Written::No) {
      Complain(cli::Format(cli::Tr("cannot write the chart %s"),
                           cli::system::ShownPath(chartPaths[i]).c_str()));
      status = kNotWritten;
      continue;
    }
    cli::Out("%s\n", cli::system::ShownPath(chartPaths[i]).c_str());
  }

  if (arguments.Has("output")) {
    if (status != 0) {
      Complain(cli::Tr("no page written: not every CSV file could be read"));
      return status;
    }
    if (page == "-") {
      if (cli::system::WriteStandardOutputBytes(chart::DrawCharts(groups))) return status;
      Complain(cli::Tr("cannot write the page to standard output"));
      return kNotWritten;
    }
    const Written written = WriteWhole(files, page, chart::DrawCharts(groups));
    if (written == Written::Stopped) return StoppedStatus();
    if (written == Written::No) {
      Complain(
          cli::Format(cli::Tr("cannot write the page %s"), cli::system::ShownPath(page).c_str()));
      return kNotWritten;
    }
    cli::Out("%s\n", cli::system::ShownPath(page).c_str());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    Complain(cli::Tr("out of memory"));
    return 1;
  } catch (const std::exception& failure) {
    Complain(failure.what());
    return 1;
  }
}
