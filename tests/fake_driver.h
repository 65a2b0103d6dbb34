// An in-process instrument driver for the library's tests: it presents 0..n device interfaces
// in a temporary registry (TARVO_DEVICE_ROOT), serves them on its own thread over real sockets,
// does what the test scripts (refuse opens, answer or fail reads, writes and control requests,
// drop the device), and records every request.
#ifndef TESTS_FAKE_DRIVER_H
#define TESTS_FAKE_DRIVER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver_server.h"

namespace testing_support {

using standin::Bytes;
using standin::Reply;

Bytes ToBytes(const std::string& text);

// One request as the driver saw it.
struct Event {
  enum Kind { Open, Read, Write, Control, Close } kind;
  std::string interfaceName;
  int file = 0;
  std::string fileName;  // "" for the device itself
  uint32_t code = 0;     // Control
  uint32_t size = 0;     // Read: max; Control: outMax
  Bytes data;            // Write: the bytes; Control: the input
  uint32_t status = 0;   // Open: the status answered
};

class FakeDriver {
 public:
  // Presents one interface per name, in a fresh registry below `root` (a new temporary folder
  // when empty), and points TARVO_DEVICE_ROOT at it. The root is removed at the end.
  explicit FakeDriver(const std::vector<std::string>& interfaceNames = {},
                      const std::string& root = "");
  ~FakeDriver();  // Stops serving and removes the registry.
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  const std::string& Root() const { return root_; }
  std::string InterfacePath(const std::string& name) const;

  // Opens of `fileName` ("" the device, "if000pipe001" a pipe) on an interface are refused.
  void RefuseOpen(const std::string& interfaceName, const std::string& fileName);

  // The answers to coming reads, in order; a read with none queued waits for one.
  void QueueRead(const Reply& reply);
  void QueueRead(const std::string& text) { QueueRead(Reply::WithData(ToBytes(text))); }

  // The answer to every write from now on (default: all bytes taken).
  void AnswerWrites(const Reply& reply);

  // The answer to control requests with `code` from now on (default: success, no output).
  void AnswerControl(uint32_t code, const Reply& reply);

  // Closes every open stream at once, as when the instrument is unplugged; later opens succeed
  // unless refused.
  void DropAllStreams();

  std::vector<Event> Events() const;
  std::vector<Event> EventsOf(Event::Kind kind) const;
  // Files currently open on the driver.
  int OpenFiles() const;

  // Waits (at most a few seconds) until `done` holds for the events; false if it never did.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& done) const;

 private:
  class Device;

  std::string root_;
  standin::DriverServer server_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
  std::set<std::pair<std::string, std::string>> refused_;
  std::deque<Reply> reads_;
  std::deque<int> waitingReads_;  // files whose read waits for a queued answer
  Reply writeReply_;
  bool writeReplySet_ = false;
  std::map<uint32_t, Reply> controlReplies_;
  int openFiles_ = 0;
};

}  // namespace testing_support

#endif  // TESTS_FAKE_DRIVER_H
