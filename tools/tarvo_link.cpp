// tarvo-link: opens the link to the instrument, sends one message, prints the reply and closes
// the link again; a quick check that the library, the driver and the instrument talk.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "command_line.h"
#include "system_calls.h"
#include "tarvo.h"
#include "usb_listing.h"

namespace {

constexpr const char* kUsage = cli::TrLater(
    "Usage: tarvo-link [--send TEXT] [--tries N]\n"
    "       tarvo-link --scan-usb\n"
    "       tarvo-link --named VVVV:PPPP\n"
    "\n"
    "Opens the link to the first instrument found (TarvoInit), sends TEXT followed by a\n"
    "carriage return (TarvoSend), receives the reply (TarvoReceive, asking again up to N times,\n"
    "300 ms apart, while nothing has arrived), prints it and closes the link (TarvoExit).\n"
    "\n"
    "  --send TEXT       the message, without its carriage return (default STATUS2)\n"
    "  --tries N         how often to ask for the reply (default 10)\n"
    "  --scan-usb        list the USB devices attached instead (Linux): each one's path, its\n"
    "                    vendor and product id, \"named\" when the library may use it (its id is\n"
    "                    in TARVO_USB_IDS or /etc/tarvo/usb-ids), and whether interface 0 has an\n"
    "                    IN and then an OUT endpoint, as the link needs; no device is sent\n"
    "                    anything\n"
    "  --named VVVV:PPPP exit with 0 when the id is named, 1 when not (the udev rule asks)\n"
    "  -h, --help        show this text\n"
    "  -V, --version     show the version\n"
    "\n"
    "Environment:\n"
    "  TARVO_USB_IDS      ids of USB instruments, vvvv:pppp separated by commas\n"
    "  TARVO_DEVICE_ROOT  the root of the driver stand-in's registry\n"
    "  TARVO_TRACE        trace lines on stderr\n"
    "  LANG, LC_MESSAGES, LC_ALL, LANGUAGE\n"
    "                     the language of the messages: Japanese or English\n"
    "\n"
    "Exit status: 0 the reply arrived (or the devices were listed), 1 the link failed or no\n"
    "reply came, 2 usage error.\n");

const char* CodeName(int32_t code) {
  switch (code) {
    case LINK_OK:
      return cli::Tr("ok");
    case LINK_NOT_OPEN:
      return cli::Tr("link not open");
    case LINK_NO_DEVICE:
      return cli::Tr("no instrument, or it does not answer");
    case LINK_IO_FAILED:
      return cli::Tr("transfer failed");
    default:
      return cli::Tr("unknown");
  }
}

int Exchange(const std::string& message, int tries) {
  const int32_t sent = TarvoSend(message.data(), static_cast<uint32_t>(message.size()));
  cli::Out("TarvoSend %s (%zu bytes): %d (%s)\n",
           cli::Printable(message.data(), message.size()).c_str(), message.size(), sent,
           CodeName(sent));
  if (sent != LINK_OK) return 1;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    char reply[TARVO_RECEIVE_MAX];
    uint32_t length = 0;
    const int32_t received = TarvoReceive(reply, &length);
    if (received != LINK_OK) {
      cli::Out("TarvoReceive: %d (%s)\n", received, CodeName(received));
      return 1;
    }
    if (length > 0) {
      cli::Out("TarvoReceive: 0, %u bytes: %s\n", length, cli::Printable(reply, length).c_str());
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  cli::Out(cli::Tr("TarvoReceive: nothing arrived in %d tries\n"), tries);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  cli::StartMessages();
  (void)std::setvbuf(stdout, nullptr, _IONBF, 0);  // Lines in step with the driver's, when piped.
  const cli::Arguments arguments = cli::Parse(
      argc, argv, {{"send", true}, {"tries", true}, {"scan-usb", false}, {"named", true}}, kUsage);
  if (!arguments.operands.empty()) {
    cli::UsageError(cli::Format(cli::Tr("unexpected %s"), arguments.operands[0].c_str()));
  }
  if (arguments.Has("scan-usb")) return cli::usb::PrintDevices() ? 0 : 1;
  if (arguments.Has("named")) {
    const int named = cli::usb::NamedStatus(arguments.Value("named", ""));
    if (named == 2) cli::UsageError(cli::Tr("--named needs an id VVVV:PPPP"));
    return named;
  }
  const std::string message = arguments.Value("send", "STATUS2") + "\r";
  const std::string triesText = arguments.Value("tries", "10");
  int tries = 0;
  if (triesText.empty() || triesText.size() > 4 ||
      triesText.find_first_not_of("0123456789") != std::string::npos ||
      (tries = std::stoi(triesText)) < 1) {
    cli::UsageError(cli::Tr("--tries needs a number from 1 to 9999"));
  }

  const int32_t opened = TarvoInit();
  cli::Out("TarvoInit: %d (%s)\n", opened, CodeName(opened));
  if (opened != LINK_OK) {
    // An instrument held by a transfer does not open for another program: say so.
    std::string error;
    if (kvx::system::TakeSingleInstanceGuard(kvx::system::kTransferGuard, &error) ==
        kvx::system::GuardResult::HeldElsewhere) {
      cli::Err(
          cli::Tr("tarvo-link: the instrument is in use by another transfer (KVX-300 or "
                  "kvx-transfer)\n"));
    }
    return 1;
  }
  const int status = Exchange(message, tries);
  TarvoExit();
  cli::Out("TarvoExit\n");
  return status;
}
