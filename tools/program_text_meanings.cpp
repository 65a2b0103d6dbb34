#include "program_text_meanings.h"

#include "messages.h"
#include "program_texts.h"

namespace cli {

namespace {

struct Meaning {
  std::string_view text;
  const char* english;
};

constexpr Meaning kMeanings[] = {
    {kvx::texts::kNoMemory, "no memory could be had"},
    {kvx::texts::kCaptureNotOpened, "error: the file cannot be made"},
    {kvx::texts::kPastLastFileNumber,
     "the file name would go past \"QM-9999.csv\"; change the file name or the folder name"},
    {kvx::texts::kFolderNotCreated, "the QM-DATA folder could not be made"},
    {kvx::texts::kCsvNotCreated, "error: the file cannot be made; check the QM-DATA folder"},
    {kvx::texts::kTemporaryFileNotCreated,
     "error: the file cannot be made; install the program somewhere else"},
    {kvx::texts::kCreationFailed, "making the file failed"},
    {kvx::texts::kDriverNotRecognised, "the USB driver is not recognised; install the driver"},
    {kvx::texts::kCannotCommunicate, "the instrument does not answer"},
    {kvx::texts::kCommunicating, "communicating..."},
    {kvx::texts::kFinished, "finished"},
    {kvx::texts::kEndCommandCame, "an END command came"},
    {kvx::texts::kNoData, "there is no data"},
    {kvx::texts::kDataCorruptedMessage, "the data received is damaged"},
    {kvx::texts::kDataCorrupted, "data damaged"},
};

}  // namespace

std::string EnglishMeaning(std::string_view text) {
  for (const Meaning& meaning : kMeanings) {
    if (text == meaning.text) return meaning.english;
  }
  if (text.substr(0, kvx::texts::kSendError.size()) == kvx::texts::kSendError) {
    return "send error " + std::string(text.substr(kvx::texts::kSendError.size()));
  }
  return {};
}

std::string MeaningAfter(std::string_view text) {
  if (SpeaksJapanese()) return {};
  const std::string meaning = EnglishMeaning(text);
  return meaning.empty() ? "" : " (" + meaning + ")";
}

}  // namespace cli
