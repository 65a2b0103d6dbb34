// The emulator's driver as USB devices below libusb, for the tests of the library's USB device
// files: a umockdev testbed holds each device (its sysfs record with the descriptors, and its
// device node), and an ioctl handler answers the USB requests (URBs) that libusb makes of the
// library's transfers with the instrument. A program sees the devices when it runs with
// LD_PRELOAD=libumockdev-preload.so.0 and UMOCKDEV_DIR set to the testbed's folder, which
// ServeUsbInstruments prints; libusb needs no root and no kernel module then.
//
// The handler runs on the testbed's own thread. libusb submits a URB, then asks again and again
// whether one has completed (REAPURBNDELAY, as the emulated node is always ready to poll): a
// bulk OUT URB is a command, taken at once; a bulk IN URB gets the instrument's reply when it is
// due, or is discarded when the library's read gives up; a control URB is answered at once.
// Results are written into the URB kept from its submission, when it is reaped.
#include "driver_umockdev.h"
#include "command_line.h"

#include <ftw.h>
#include <glib-unix.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_descriptors.h"
#include "reply_queue.h"

namespace emulator {

namespace {

constexpr uint8_t kInEndpoint = 0x81;   // pipe 0
constexpr uint8_t kOutEndpoint = 0x01;  // pipe 1

std::string Hex(const uint8_t* data, std::size_t size) {
  std::string text;
  char pair[4];
  for (std::size_t i = 0; i < size; ++i) {
    (void)std::snprintf(pair, sizeof pair, i == 0 ? "%02x" : " %02x", data[i]);
    text += pair;
  }
  return text;
}

class EmulatedUsbDevice {
 public:
  EmulatedUsbDevice(Instrument& instrument, int port, UsbIds::value_type id, bool outFirst)
      : instrument_(instrument), port_(port), id_(id), outFirst_(outFirst) {}

  ~EmulatedUsbDevice() {
    for (Urb& urb : urbs_)
      Forget(urb);
  }
  EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
  EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

  std::string Path() const { return "usb:1-" + std::to_string(port_); }
  std::string Node() const {
    char node[32];
    (void)std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", port_ + 1);
    return node;
  }

  // The device's record: on bus 1 at port `port_` of the root hub, device number port_ + 1.
  std::string Record() const {
    std::vector<uint8_t> descriptors = DeviceDescriptor(id_.first, id_.second);
    const std::vector<uint8_t> configuration = ConfigurationDescriptor(outFirst_);
    descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());
    std::string hex;
    for (uint8_t byte : descriptors) {
      char pair[3];
      (void)std::snprintf(pair, sizeof pair, "%02x", byte);
      hex += pair;
    }
    const std::string number = std::to_string(port_ + 1);
    const std::string devnum = Node().substr(Node().rfind('/') + 1);
    return "P: /devices/usb1/1-" + std::to_string(port_) + "\nN: bus/usb/001/" + devnum +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" +
           devnum + "\nE: DEVNAME=" + Node() + "\nA: busnum=1\\n\nA: devnum=" + number +
           "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\nH: descriptors=" + hex + "\n";
  }

  // One ioctl of a program on the device node; false leaves it to umockdev (not a USB request).
  gboolean Handle(UMockdevIoctlClient* client) {
    const std::lock_guard<std::mutex> lock(mutex_);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_GET_CAPABILITIES: {
        g_autoptr(UMockdevIoctlData) capabilities =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        const guint32 value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                              USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        std::memcpy(capabilities->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_GETDRIVER:  // no kernel driver holds the interface
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      case USBDEVFS_IOCTL:  // a kernel driver let go of the interface, or given it back
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_DISCONNECT_CLAIM:
        Claimed(client);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
        Released(client);
        return TRUE;
      case USBDEVFS_CLEAR_HALT: {
        g_autoptr(UMockdevIoctlData) endpoint =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
        unsigned int address = 0;
        std::memcpy(&address, endpoint->data, sizeof address);
        instrument_.Log().Line("clear halt " + Hex(reinterpret_cast<uint8_t*>(&address), 1));
        umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
        return TRUE;
      }
      case USBDEVFS_RESET:
        instrument_.Log().Line("port reset");
        umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
        return TRUE;
      case USBDEVFS_SUBMITURB:
        Submit(client, arg);
        return TRUE;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        Reap(client, arg);
        return TRUE;
      case USBDEVFS_DISCARDURB:
        Discard(client, arg);
        return TRUE;
      default:
        return FALSE;
    }
  }

 private:
  // A URB as submitted, kept to write its results into when it is reaped.
  struct Urb {
    UMockdevIoctlClient* client;  // the submission, which tells whether its program is there
    UMockdevIoctlData* urb;
    UMockdevIoctlData* buffer;  // nullptr for a URB without one
    bool done = false;
    usbdevfs_urb* Fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
  };

  static void Forget(Urb& urb) {
    g_object_unref(urb.client);
    umockdev_ioctl_data_unref(urb.urb);
    if (urb.buffer != nullptr) umockdev_ioctl_data_unref(urb.buffer);
  }

  static void Finish(Urb& urb, int status, std::size_t actualLength) {
    urb.Fields()->status = status;
    urb.Fields()->actual_length = static_cast<int>(actualLength);
    urb.done = true;
  }

  // A program claims the interface: a new link, as the instrument sees it, unless one holds it.
  void Claimed(UMockdevIoctlClient* client) {
    if (gone_) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return;
    }
    if (claims_++ == 0) {
      DropUrbsOfGonePrograms();
      replies_.Clear();
      instrument_.LinkOpened();
    }
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  void Released(UMockdevIoctlClient* client) {
    if (claims_ > 0 && --claims_ == 0) {
      replies_.Clear();
      instrument_.LinkClosed();
      gone_ = false;  // plugged in again for the next link
    }
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (gone_) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return;
    }
    Urb urb{client, umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr), nullptr};
    const usbdevfs_urb& fields = *urb.Fields();
    if (fields.buffer_length > 0) {
      urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                               static_cast<gsize>(fields.buffer_length), nullptr);
    }
    g_object_ref(client);
    const bool taken = fields.type == USBDEVFS_URB_TYPE_CONTROL ? AnswerControl(urb)
                       : fields.endpoint == kOutEndpoint        ? TakeCommand(urb)
                                                                : fields.endpoint == kInEndpoint;
    if (!taken || gone_) {
      Forget(urb);
      umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EINVAL);
      return;
    }
    urbs_.push_back(urb);
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  // A command on the OUT pipe, which the instrument takes at once.
  bool TakeCommand(Urb& urb) {
    const std::string bytes(reinterpret_cast<const char*>(urb.buffer->data),
                            static_cast<std::size_t>(urb.buffer->data_len));
    const Outcome outcome = instrument_.Command(bytes);
    switch (outcome.action) {
      case Outcome::WriteFails:  // the pipe stalls; the device still answers
        Finish(urb, -EPIPE, 0);
        return true;
      case Outcome::DropNow:
        instrument_.Log().Line("link dropped");
        gone_ = true;
        return true;
      case Outcome::Silent:
        instrument_.Log().Line("reply: none (silent)");
        break;
      case Outcome::Reply:
      case Outcome::DropLater:
      case Outcome::EmptyReads:
        break;
    }
    if (replies_.Add(outcome, ReplyQueue::SteadyNowMs(), instrument_.EmptyReadsBeforeReply())) {
      instrument_.Log().Line("the reply to the command before is dropped");
    }
    Finish(urb, 0, bytes.size());
    return true;
  }

  // A read on the IN pipe gets the oldest reply once it is due, or completes with nothing when
  // the instrument owes an empty read.
  void AnswerRead(Urb& urb) {
    if (instrument_.ReadsComeEmpty()) {
      Finish(urb, 0, 0);
      return;
    }
    Outcome outcome;
    uint64_t dueMs = 0;
    switch (replies_.Take(ReplyQueue::SteadyNowMs(), &outcome, &dueMs)) {
      case ReplyQueue::Next::Nothing:
      case ReplyQueue::Next::NotYet:
        return;
      case ReplyQueue::Next::EmptyRead:
        instrument_.Log().Line("reply: nothing yet");
        Finish(urb, 0, 0);
        return;
      case ReplyQueue::Next::Reply:
        break;
    }
    if (outcome.action == Outcome::DropLater) {
      instrument_.Log().Line("device gone instead of the reply" +
                             (outcome.label.empty() ? "" : " (" + outcome.label + ")"));
      gone_ = true;
      return;
    }
    const std::size_t size =
        urb.buffer == nullptr
            ? 0
            : std::min(outcome.reply.size(), static_cast<std::size_t>(urb.buffer->data_len));
    if (size > 0) std::memcpy(urb.buffer->data, outcome.reply.data(), size);
    instrument_.Log().Line("reply " + (outcome.label.empty() ? "" : outcome.label + " ") +
                           Quoted(outcome.reply.substr(0, size)));
    Finish(urb, 0, size);
  }

  // A control transfer: its setup packet and data, answered at once. Standard requests for the
  // descriptors and the status; class and vendor requests are taken (OUT) or answered with
  // zeros (IN); anything else stalls.
  bool AnswerControl(Urb& urb) {
    if (urb.buffer == nullptr || urb.buffer->data_len < 8) return false;
    uint8_t* setup = urb.buffer->data;
    uint8_t* data = setup + 8;
    const bool in = (setup[0] & 0x80) != 0;
    const unsigned type = setup[0] & 0x60u;
    const auto length = static_cast<std::size_t>(setup[6] | setup[7] << 8);
    const std::size_t room = static_cast<std::size_t>(urb.buffer->data_len) - 8;
    instrument_.Log().Line("control " + Hex(setup, 8) +
                           (!in && length > 0 ? " data " + Hex(data, std::min(length, room)) : ""));
    std::vector<uint8_t> answer;
    if (type != 0) {
      answer.assign(in ? length : 0, 0);
    } else if (setup[0] == 0x80 && setup[1] == 0x06 && (setup[3] == 1 || setup[3] == 2)) {
      answer = setup[3] == 1 ? DeviceDescriptor(id_.first, id_.second)
                             : ConfigurationDescriptor(outFirst_);
    } else if (setup[0] == 0x80 && setup[1] == 0x00 && instrument_.AnswersProbe()) {
      answer = {0, 0};
    } else {
      Finish(urb, -EPIPE, 0);
      return true;
    }
    const std::size_t size = std::min({answer.size(), length, room});
    if (size > 0) std::memcpy(data, answer.data(), size);
    Finish(urb, 0, in ? size : std::min(length, room));
    return true;
  }

  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    DropUrbsOfGonePrograms();
    for (Urb& urb : urbs_) {
      if (!urb.done && urb.Fields()->endpoint == kInEndpoint &&
          urb.Fields()->type != USBDEVFS_URB_TYPE_CONTROL) {
        AnswerRead(urb);
        break;  // one read at a time, in order
      }
    }
    if (gone_) {
      // What was in flight ends as on a device that is unplugged.
      for (Urb& urb : urbs_) {
        if (!urb.done) Finish(urb, -ENODEV, 0);
      }
    }
    for (auto urb = urbs_.begin(); urb != urbs_.end(); ++urb) {
      if (!urb->done) continue;
      g_autoptr(UMockdevIoctlData) slot =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
      umockdev_ioctl_data_set_ptr(slot, 0, urb->urb);
      Forget(*urb);
      urbs_.erase(urb);
      umockdev_ioctl_client_complete(client, 0, 0);
      return;
    }
    // Nothing to reap: held a moment, so that a waiting program does not spin.
    g_usleep(1000);
    umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
  }

  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data,
                std::min(sizeof address, static_cast<std::size_t>(arg->data_len)));
    for (Urb& urb : urbs_) {
      if (urb.urb->client_addr != address || urb.done) continue;
      // The reply, should it come, is the next read's.
      if (urb.Fields()->endpoint == kInEndpoint) {
        instrument_.Log().Line("read cancelled: nothing yet");
      }
      Finish(urb, -ENOENT, 0);
      umockdev_ioctl_client_complete(client, 0, 0);
      return;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);  // completed already
  }

  // umockdev does not tell when a program closes the device node: its URBs are dropped here.
  void DropUrbsOfGonePrograms() {
    for (auto urb = urbs_.begin(); urb != urbs_.end();) {
      if (umockdev_ioctl_client_get_connected(urb->client)) {
        ++urb;
        continue;
      }
      Forget(*urb);
      urb = urbs_.erase(urb);
    }
  }

  std::mutex mutex_;
  Instrument& instrument_;
  int port_;
  UsbIds::value_type id_;
  bool outFirst_;
  ReplyQueue replies_;
  std::deque<Urb> urbs_;
  int claims_ = 0;
  bool gone_ = false;
};

gboolean HandleIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                     EmulatedUsbDevice* device) {
  return device->Handle(client);
}

int OpenToEveryone(const char* path, const struct stat* status, int /*type*/, FTW* /*walk*/) {
  (void)chmod(path, S_ISREG(status->st_mode) ? 0666 : 0777);
  return 0;
}

gboolean Quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int ServeUsbInstruments(const std::vector<Instrument*>& instruments, const UsbDevices& served) {
  const UsbIds& ids = served.ids;
  // The stop signals are taken before anything is made, so that a stop at any moment from now on
  // removes the testbed's folder (a stop before the loop runs ends it as soon as it does).
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGINT, Quit, loop);
  g_unix_signal_add(SIGTERM, Quit, loop);
  UMockdevTestbed* testbed = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  std::vector<std::unique_ptr<EmulatedUsbDevice>> devices;
  std::vector<UMockdevIoctlBase*> handlers;
  int status = 0;
  for (std::size_t i = 0; i < ids.size() && status == 0; ++i) {
    devices.push_back(std::make_unique<EmulatedUsbDevice>(*instruments[i], static_cast<int>(i) + 1,
                                                          ids[i], served.outFirst));
    EmulatedUsbDevice& device = *devices.back();
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    handlers.push_back(handler);
    g_signal_connect_after(handler, "handle-ioctl", G_CALLBACK(HandleIoctl), &device);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, device.Node().c_str(), handler, &error) ||
        !umockdev_testbed_add_from_string(testbed, device.Record().c_str(), &error)) {
      cli::Err("kvx-usb-emulator: %s\n",
               error != nullptr ? error->message : "the device cannot be added");
      g_clear_error(&error);
      status = 1;
      break;
    }
    if (served.withoutPermission) {
      // Every program may use the testbed, but no one but root may open the device node.
      // NOLINTNEXTLINE(concurrency-mt-unsafe): without FTW_CHDIR the walk changes nothing shared.
      (void)nftw(root, OpenToEveryone, 16, FTW_PHYS);
      (void)chmod((std::string(root) + device.Node()).c_str(), 0);
    }
    cli::Out("kvx-usb-emulator: presenting %s (%04x:%04x)\n", device.Path().c_str(), ids[i].first,
             ids[i].second);
  }
  if (status == 0) {
    cli::Out("kvx-usb-emulator: UMOCKDEV_DIR=%s\n", root);
    (void)std::fflush(stdout);
    g_main_loop_run(loop);
    cli::Out("kvx-usb-emulator: stopped\n");
  }
  g_main_loop_unref(loop);
  for (const auto& device : devices)
    umockdev_testbed_detach_ioctl(testbed, device->Node().c_str(), nullptr);
  g_object_unref(testbed);  // the testbed's folder goes with it
  for (UMockdevIoctlBase* handler : handlers)
    g_object_unref(handler);
  g_free(root);
  return status;
}

}  // namespace emulator
