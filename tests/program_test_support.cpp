#include "program_test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "system_calls.h"

namespace program_testing {

std::string Cp932(const std::string& utf8) {
  std::string cp932;
  if (!kvx::system::Utf8ToCp932(utf8, &cp932)) throw std::runtime_error("no code page 932 form");
  return cp932;
}

std::string CsvBytes(const std::string& utf8WithLf) {
  std::string crlf;
  for (char c : Cp932(utf8WithLf)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/kvx-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  std::string path = path_ + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string HeaderRecord(const std::string& start, const std::string& interval,
                         const std::string& code, char layout, char unit, int count) {
  char countField[8];
  (void)std::snprintf(countField, sizeof countField, "%06X", count);
  std::string record = "0001" + start + interval + code + layout + unit + std::string(20, '0') +
                       countField + std::string(10, '0');
  if (record.size() != 60) throw std::logic_error("a header record is 60 characters");
  return record;
}

void Conversion::Run(const std::string& capture) {
  transfer.saveFolder = SaveFolder();
  transfer.capturePath = files.Write("/capture/ini1234.tmp", capture);
  transfer.payloadLength = static_cast<int32_t>(capture.size());
  outcome = kvx::ConvertCapture(kind_, displayMode_, ui, files, transfer);
  files_.clear();
  for (const std::string& name : files.Names(OutputFolder())) {
    files_[name] = files.Read(OutputFolder() + "/" + name);
  }
}

std::string Conversion::File(const std::string& name) const {
  auto found = files_.find(name);
  return found != files_.end() ? found->second : "(no file " + name + ")";
}

}  // namespace program_testing
