// Run under Wine against kvx-emulator.exe: a transfer's whole dialogue through tarvo.dll, bound
// by ordinal, from "END\r" to "YYY\r", each block's checksum checked and the data compared with
// the capture file the emulator was given. Prints one line per step; exits non-zero on a fault.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tarvo.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
}

std::string Exchange(const std::string& command) {
  if (TarvoSend(command.data(), static_cast<uint32_t>(command.size())) != LINK_OK) {
    return "(send failed)";
  }
  for (;;) {
    char buffer[TARVO_RECEIVE_MAX];
    uint32_t length = 0;
    if (TarvoReceive(buffer, &length) != LINK_OK) return "(receive failed)";
    if (length > 0) return std::string(buffer, length);
  }
}

bool ChecksumIsGood(const std::string& block) {
  int sum = 0;
  for (std::size_t i = 0; i + 2 < block.size(); i += 2) {
    sum += std::stoi(block.substr(i, 2), nullptr, 16);
  }
  return block.size() >= 3 && sum % 256 == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    (void)std::fprintf(stderr, "usage: transfer-dialogue-check CAPTURE_FILE IDENTIFICATION_KIND\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::ostringstream capture;
  capture << file.rdbuf();
  const std::string identification =
      std::string(argv[2]) == "2" ? "STATUS2\r001T000100\r" : "STATUS2\r006T000100\r";

  Check(TarvoInit() == LINK_OK, "TarvoInit finds the emulated instrument");
  Check(Exchange("END\r") == "END\r", "END");
  Check(Exchange("STATUS2\r") == identification, "STATUS2: the identification");
  Check(Exchange("STATUS\r").rfind("STA", 0) == 0, "STATUS");
  Check(Exchange("TRANS\r") == "TRANS\r", "TRANS");
  std::string received;
  int blocks = 0;
  bool good = true;
  for (std::string block = Exchange("N\r"); block != "YYY\r" && blocks < 10000;
       block = Exchange("NEXT\r")) {
    good = good && ChecksumIsGood(block);
    received += block.substr(0, block.size() >= 3 ? block.size() - 3 : 0);
    ++blocks;
  }
  Check(good, std::to_string(blocks) + " blocks, every checksum good");
  Check(received == capture.str(), "the blocks carry the capture file's " +
                                       std::to_string(capture.str().size()) + " characters");
  TarvoExit();
  return failures == 0 ? 0 : 1;
}
