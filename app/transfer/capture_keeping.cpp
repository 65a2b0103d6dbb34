// What becomes of the capture file at the end of the data: deleted, as at every transfer's end,
// or kept so that it can be converted again (kvx-transfer does so when the CSV files are
// incomplete).
#include <algorithm>
#include <memory>
#include <new>

#include "transfer_engine.h"

namespace {

constexpr int kKeptNameTries = 999;

bool Incomplete(kvx::ConversionEnd end) {
  // A stop was asked for: that end keeps nothing.
  return end != kvx::ConversionEnd::Converted && end != kvx::ConversionEnd::Stopped;
}

}  // namespace

void TransferEngine::KeepOrDeleteCapture() {
  const bool keep =
      captureKeeping == CaptureKeeping::Always ||
      (captureKeeping == CaptureKeeping::WhenConversionIncomplete && Incomplete(conversion.end));
  if (!keep) {
    if (files_.RemoveFile(transfer_.capturePath)) captureOnDisk_ = false;
    return;
  }
  // Where it was asked to go; else into the chosen folder, under a name that is no CSV file's
  // and that no numbering counts; else it stays where it is.
  if (!keepCaptureAs.empty() && CopyCaptureTo(keepCaptureAs) == CreateResult::Created) {
    keptCapture = keepCaptureAs;
  }
  const std::string base = transfer_.saveFolder + files_.PathSeparator() + "kvx-capture-kind" +
                           std::to_string(transfer_.instrumentKind);
  for (int n = 1; keptCapture.empty() && n <= kKeptNameTries; ++n) {
    std::string path = base;
    if (n > 1) path.append("-").append(std::to_string(n));
    path.append(".txt");
    const CreateResult copied = CopyCaptureTo(path);
    if (copied == CreateResult::Created) keptCapture = path;
    if (copied == CreateResult::Failed) break;
  }
  if (keptCapture.empty()) {
    keptCapture = transfer_.capturePath;
    captureOnDisk_ = false;  // The clean-up leaves it be.
    return;
  }
  if (files_.RemoveFile(transfer_.capturePath)) captureOnDisk_ = false;
}

CreateResult TransferEngine::CopyCaptureTo(const std::string& path) {
  const auto size = static_cast<std::size_t>(std::max<int32_t>(0, transfer_.payloadLength));
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size + 1]);
  std::size_t length = 0;
  if (!bytes || !files_.ReadFileBytes(transfer_.capturePath, bytes.get(), size, &length) ||
      length != size) {
    return CreateResult::Failed;
  }
  FileHandle file = kNoFile;
  const CreateResult created = files_.CreateNewFile(path, &file);
  if (created != CreateResult::Created) return created;
  const bool written = files_.WriteFileBytes(file, bytes.get(), size);
  if (files_.CloseFile(file) && written) return CreateResult::Created;
  files_.RemoveFile(path);  // No partial copy is left to look complete.
  return CreateResult::Failed;
}
